# Sources of src/cli (paths relative to src/).
target_sources(installer_core PRIVATE
    cli/options.cpp
    cli/staged_modes.cpp
    cli/run_modes.cpp
    cli/run_guard.cpp
)
target_sources(installer_core PRIVATE
    cli/stream_copy.cpp
    cli/upgrade_run.cpp
)
target_sources(installer_core PRIVATE
    cli/stream_install.cpp
)
