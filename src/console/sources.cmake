# Sources of src/console (paths relative to src/).
target_sources(installer_core PRIVATE
    console/console.cpp
    console/posix_terminal.cpp
    console/progress.cpp
)
