#include "scratch.h"

#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>

const std::string& scratch_dir() {
    static TempDir dir;  // removed at exit
    return dir.path();
}

std::string write_scratch(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = scratch_dir() + "/" + name;
    fuzz_check(write_file(path, std::string(reinterpret_cast<const char*>(data), size)),
               "cannot write the scratch file");
    return path;
}

void fuzz_check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}
