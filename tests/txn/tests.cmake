# Unit test sources of tests/txn (paths relative to tests/).
target_sources(unit_tests PRIVATE
)
target_sources(unit_tests PRIVATE
    txn/transaction_test.cpp
    txn/space_test.cpp
)
target_sources(unit_tests PRIVATE
    txn/space_cache_test.cpp
)
