# Unit test sources of tests/txn (paths relative to tests/).
target_sources(unit_tests PRIVATE
    txn/transaction_test.cpp
    txn/journal_test.cpp
)
