# Sources of src/console (paths relative to src/).
target_sources(installer_core PRIVATE
    console/posix_terminal.cpp
)
