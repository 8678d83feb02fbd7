# Sources of src/txn (paths relative to src/).
target_sources(installer_core PRIVATE
)
