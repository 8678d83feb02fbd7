# Sources of src/txn (paths relative to src/).
target_sources(installer_core PRIVATE
    txn/transaction.cpp
    txn/commit.cpp
    txn/space.cpp
    txn/journal.cpp
)
