# Benchmark executables; each links installer_core, pkglib and benchmark::benchmark.

# Commit of 2,000 staged files: renames within one file system, copies across two.
add_executable(commit_bench commit_bench.cpp)
target_link_libraries(commit_bench PRIVATE installer_core pkglib benchmark::benchmark)

# Package reading (digest on, inflate) of a ~100 MiB tree against a plain SHA-1 + inflate loop.
add_executable(reader_bench reader_bench.cpp)
target_link_libraries(reader_bench PRIVATE installer_core pkglib benchmark::benchmark)

# Legacy signature check against OpenSSL's X25519 scalar multiplication (target: ratio <= 8).
add_executable(legacy_bench legacy_bench.cpp)
target_link_libraries(legacy_bench PRIVATE installer_core pkglib benchmark::benchmark)

# Settling scheduled actions over 100 to 5,000 installed packages (target: 1,000 under 100 ms),
# and the indexed resolver against the plain scans kept in the tests.
add_executable(resolve_bench resolve_bench.cpp ${PROJECT_SOURCE_DIR}/tests/plan/plain_resolution.cpp)
target_include_directories(resolve_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(resolve_bench PRIVATE installer_core pkglib benchmark::benchmark)

# "installer --show" over 1,000 packages in small files against a plain process reading the same
# files (target: ratio <= 2), and over 20 packages with 1 MiB and 64 MiB images (target: ~1).
add_executable(pdb_bench pdb_bench.cpp)
target_link_libraries(pdb_bench PRIVATE installer_core pkglib benchmark::benchmark)
target_compile_definitions(pdb_bench PRIVATE INSTALLER_BIN="$<TARGET_FILE:installer>")
add_dependencies(pdb_bench installer)

# Whole-process install of a ~100 MiB package onto tmpfs (bench/install_bench.sh): the baseline
# program that only reads, SHA-1s, inflates and writes the files.
add_executable(plain_install plain_install.cpp)
target_link_libraries(plain_install PRIVATE ZLIB::ZLIB OpenSSL::Crypto)

# Fixed cost: installing a package of two small files against the plain program on the same
# package and `dpkg -i --root` of the same files (target: ratio <= 1.2).
add_executable(fixed_cost_bench fixed_cost_bench.cpp)
target_link_libraries(fixed_cost_bench PRIVATE benchmark::benchmark)
target_compile_definitions(fixed_cost_bench PRIVATE INSTALLER_BIN="$<TARGET_FILE:installer>"
    PKGTOOL_BIN="$<TARGET_FILE:pkgtool>" PLAIN_INSTALL_BIN="$<TARGET_FILE:plain_install>")
add_dependencies(fixed_cost_bench installer pkgtool plain_install)
