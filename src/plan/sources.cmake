# Sources of src/plan (paths relative to src/).
target_sources(installer_core PRIVATE
)
