# Sources of src/cli (paths relative to src/).
target_sources(installer_core PRIVATE
    cli/installer.cpp
)
