// Writes the seed corpora of the fuzz targets into <out>/<target>/, from the package tool's
// library: the seeds are made at build time so that no binary seed is kept in the tree.
//   make_corpus <keys dir> <out dir>

#include "seed_packages.h"
#include "support/recipes.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace {

bool write_all(const std::filesystem::path& dir, const std::map<std::string, std::string>& files) {
    for (const auto& [name, bytes] : files) {
        if (!write_file(dir / name, bytes)) {  // parents made
            std::fprintf(stderr, "make_corpus: cannot write %s\n", (dir / name).c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_corpus <keys dir> <out dir>\n");
        return 2;
    }
    std::string err;
    const std::unique_ptr<KeySet> keys = load_dev_keys(argv[1], err);
    if (!keys) {
        std::fprintf(stderr, "make_corpus: %s\n", err.c_str());
        return 1;
    }
    const std::filesystem::path out(argv[2]);
    std::map<std::string, std::string> packages = seed_packages(keys->signer());
    for (const auto& [name, bytes] : installed_packages(keys->signer()))
        packages["installed-" + name] = bytes;

    // Database images are package files too, so the database readers get the packages as well.
    std::map<std::string, std::string> pdb = seed_database_files();
    for (const auto& [name, bytes] : packages) pdb["image-" + name] = bytes;

    return write_all(out / "fuzz_scan", packages) && write_all(out / "fuzz_install", packages) &&
                   write_all(out / "fuzz_manifest", seed_manifests()) &&
                   write_all(out / "fuzz_pdb", pdb)
               ? 0
               : 1;
}
