# Unit test sources of tests/flash (paths relative to tests/).
target_sources(unit_tests PRIVATE flash/flash_test.cpp)
