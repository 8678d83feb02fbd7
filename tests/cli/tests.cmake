# Unit test sources of tests/cli (paths relative to tests/).
target_sources(unit_tests PRIVATE
    cli/options_test.cpp
    cli/upgrade_run_test.cpp
)
