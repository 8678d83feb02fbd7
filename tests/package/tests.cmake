# Unit test sources of tests/package (paths relative to tests/).
target_sources(unit_tests PRIVATE
)
