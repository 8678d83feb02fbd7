# End-to-end test sources (paths relative to tests/).
target_sources(e2e_tests PRIVATE
    e2e/usage_test.cpp
)
