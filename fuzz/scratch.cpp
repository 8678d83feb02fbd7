#include "scratch.h"

#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

const std::string& scratch_dir() {
    static TempDir dir;  // removed at exit
    return dir.path();
}

std::string write_scratch(const std::string& name, const std::uint8_t* data, std::size_t size) {
    std::string path = scratch_dir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    out.close();
    fuzz_check(!out.fail(), "cannot write the scratch file");
    return path;
}

void fuzz_check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}
