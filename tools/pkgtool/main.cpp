// pkgtool: builds package files from descriptions, inspects them as the installer reads them,
// and makes key sets. Exit status 0 on success, 1 on failure, 2 on a usage error.
#include "pkgtool/inspect.h"
#include "pkglib/description.h"
#include "pkglib/key_set.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef PKGTOOL_DEFAULT_KEYS
#define PKGTOOL_DEFAULT_KEYS "keys/dev-private.txt"
#endif

namespace {

constexpr const char kUsage[] =
    "usage: pkgtool build <description> -o <out.npk> [--keys <private key file>]\n"
    "       pkgtool inspect <package file>\n"
    "       pkgtool keygen <dir>\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "pkgtool: %s\n", message.c_str());
    return 1;
}

bool needs_signing(const PackageDescription& d) {
    if (!d.isBundle) return d.signature != SignatureKind::None;
    for (const auto& m : d.members)
        if (needs_signing(*m)) return true;
    return false;
}

// Writes beside the target and renames, so a failed build never leaves a truncated package
// that an upload directory would pick up.
bool write_output(const std::string& path, const std::string& bytes, std::string& err) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            err = temp + ": cannot write";
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        err = path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

int run_build(const std::vector<std::string>& args) {
    std::string description, output, keys;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "-o" || args[i] == "--keys") && i + 1 < args.size()) {
            std::string& target = args[i] == "-o" ? output : keys;
            target = args[++i];
        } else if (description.empty() && !args[i].empty() && args[i][0] != '-') {
            description = args[i];
        } else {
            return usage();
        }
    }
    if (description.empty() || output.empty()) return usage();

    PackageDescription desc;
    std::string err;
    if (!load_description(description, desc, err)) return fail(err);
    std::unique_ptr<KeySet> keySet;
    if (needs_signing(desc)) {
        keySet = KeySet::load(keys.empty() ? std::string(PKGTOOL_DEFAULT_KEYS) : keys, err);
        if (!keySet) return fail(err);
    }
    std::string bytes;
    if (!build_package_file(desc, keySet ? keySet->signer() : DigestSigner(), bytes, err))
        return fail(err);
    if (!write_output(output, bytes, err)) return fail(err);
    std::printf("built %s: %s, %zu bytes\n", output.c_str(), desc.name.c_str(), bytes.size());
    return 0;
}

int run_keygen(const std::vector<std::string>& args) {
    if (args.size() != 1) return usage();
    std::string err;
    if (!write_new_key_set(args[0], err)) return fail(err);
    std::printf("wrote %s/public.txt and %s/dev-private.txt\n", args[0].c_str(), args[0].c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "build") return run_build(args);
    if (command == "inspect") return args.size() == 1 ? inspect_package(args[0]) : usage();
    if (command == "keygen") return run_keygen(args);
    return usage();
}
