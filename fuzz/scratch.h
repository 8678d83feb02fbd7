#pragma once
// A per-process scratch directory for the fuzz targets whose code under test takes file paths,
// and the check that stops a run on a broken promise (so libFuzzer keeps the input).

#include "support/temp_dir.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Prints "fuzz: <what>" and aborts when `ok` is false.
inline void fuzz_check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

// Made once below $TMPDIR (or /tmp) and removed at exit.
inline const std::string& scratch_dir() {
    static TempDir dir;
    return dir.path();
}

// Writes the bytes to scratch_dir()/name and returns the path; aborts when the write fails.
inline std::string write_scratch(const std::string& name, const std::uint8_t* data,
                                 std::size_t size) {
    const std::string path = scratch_dir() + "/" + name;
    fuzz_check(write_file(path, std::string(reinterpret_cast<const char*>(data), size)),
               "cannot write the scratch file");
    return path;
}

// Whether `path` has a ".." component after its first.
inline bool has_parent_component(const std::string& path) {
    return path.find("/../") != std::string::npos || path.ends_with("/..");
}
