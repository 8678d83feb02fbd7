# Sources of src/package (paths relative to src/).
target_sources(installer_core PRIVATE
)
