# Unit test sources of tests/console (paths relative to tests/).
target_sources(unit_tests PRIVATE
    console/console_test.cpp
)
