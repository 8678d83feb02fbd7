# Sources of src/flash (paths relative to src/).
target_sources(installer_core PRIVATE
    flash/flash_ioctl.cpp
    flash/flash_queries.cpp
)
