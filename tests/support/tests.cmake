# Shared test helpers (paths relative to tests/).
target_sources(test_support PRIVATE support/temp_dir.cpp support/mount_ns.cpp)
