# Sources of src/pdb (paths relative to src/).
target_sources(installer_core PRIVATE
)
