# Unit test sources of tests/pdb (paths relative to tests/).
target_sources(unit_tests PRIVATE
    pdb/database_loader_test.cpp
    pdb/entry_writer_test.cpp
)
