# Shared test helpers (paths relative to tests/).
target_sources(test_support PRIVATE
    support/process.cpp
    support/root_child.cpp
    support/temp_dir.cpp
    support/mount_ns.cpp
)
