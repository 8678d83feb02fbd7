# Sources of src/package/signature (paths relative to src/).
target_sources(installer_core PRIVATE
)
