// Writes the seed corpora of the fuzz targets into <out>/<target>/ at build time, so that no
// binary seed is kept in the tree.
//   make_corpus <keys dir> <out dir>

#include "seed_packages.h"
#include "support/recipes.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

int main(int argc, char** argv) {
    std::string err = "usage: make_corpus <keys dir> <out dir>";
    const std::unique_ptr<KeySet> keys = argc == 3 ? load_dev_keys(argv[1], err) : nullptr;
    if (!keys) {
        std::fprintf(stderr, "make_corpus: %s\n", err.c_str());
        return 2;
    }
    std::map<std::string, std::string> packages = seed_packages(keys->signer());
    for (const auto& [name, bytes] : installed_packages(keys->signer()))
        packages["installed-" + name] = bytes;
    // Database images are package files too, so the database readers get the packages as well.
    std::map<std::string, std::string> pdb = seed_database_files();
    for (const auto& [name, bytes] : packages) pdb["image-" + name] = bytes;
    const std::map<std::string, std::string> manifests = seed_manifests();
    const std::pair<const char*, const std::map<std::string, std::string>*> targets[] = {
        {"fuzz_scan", &packages}, {"fuzz_install", &packages}, {"fuzz_manifest", &manifests},
        {"fuzz_pdb", &pdb}};
    for (const auto& [target, files] : targets)
        for (const auto& [name, bytes] : *files)  // write_file makes the parents
            if (!write_file(std::filesystem::path(argv[2]) / target / name, bytes)) {
                std::fprintf(stderr, "make_corpus: cannot write %s\n", name.c_str());
                return 1;
            }
    return 0;
}
