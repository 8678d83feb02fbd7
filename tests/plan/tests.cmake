# Unit test sources of tests/plan (paths relative to tests/).
target_sources(unit_tests PRIVATE
)
