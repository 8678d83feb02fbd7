# Unit test sources of tests/cli (paths relative to tests/).
target_sources(unit_tests PRIVATE
    cli/installer_test.cpp
)
target_sources(unit_tests PRIVATE
    cli/options_test.cpp
    cli/staged_modes_test.cpp
)
target_sources(unit_tests PRIVATE
    cli/upgrade_run_test.cpp
)
