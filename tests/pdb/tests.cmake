# Unit test sources of tests/pdb (paths relative to tests/).
target_sources(unit_tests PRIVATE
)
