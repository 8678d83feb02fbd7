# Unit test sources of tests/core (paths relative to tests/).
target_sources(unit_tests PRIVATE
    core/output_file_test.cpp
)
