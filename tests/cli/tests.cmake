# Unit test sources of tests/cli (paths relative to tests/).
target_sources(unit_tests PRIVATE cli/cli_test.cpp)
