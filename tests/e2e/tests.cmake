# End-to-end test sources (paths relative to tests/).
target_sources(e2e_tests PRIVATE
    e2e/usage_test.cpp
)
target_sources(e2e_tests PRIVATE
    e2e/staged_modes_test.cpp
)
target_sources(e2e_tests PRIVATE
    e2e/pkgtool_test.cpp
)
target_sources(e2e_tests PRIVATE
    e2e/show_test.cpp
)
