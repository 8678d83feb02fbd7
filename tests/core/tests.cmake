# Unit test sources of tests/core (paths relative to tests/).
target_sources(unit_tests PRIVATE core/core_test.cpp)
