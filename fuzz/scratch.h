#pragma once
// A per-process scratch directory for the fuzz targets whose code under test takes file paths,
// and the check that stops a run on a broken promise (so libFuzzer keeps the input).

#include <cstddef>
#include <cstdint>
#include <string>

// Made once below $TMPDIR (or /tmp) and removed at exit.
const std::string& scratch_dir();
// Writes the bytes to scratch_dir()/name and returns the path; aborts when the write fails.
std::string write_scratch(const std::string& name, const std::uint8_t* data, std::size_t size);
// Prints "fuzz: <what>" and aborts when `ok` is false.
void fuzz_check(bool ok, const char* what);

// Whether `path` has a ".." component after its first.
inline bool has_parent_component(const std::string& path) {
    return path.find("/../") != std::string::npos || path.ends_with("/..");
}
