# Unit test sources of tests/package/signature (paths relative to tests/).
target_sources(unit_tests PRIVATE
)
