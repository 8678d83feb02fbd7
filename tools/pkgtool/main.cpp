// pkgtool: builds package files from descriptions, inspects and verifies them as the installer
// reads them, and makes key sets. Exit status 0 on success, 1 on failure, 2 on a usage error.
#include "pkgtool/inspect.h"
#include "pkglib/description.h"
#include "pkglib/key_set.h"
#include "package/signature/key_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef PKGTOOL_DEFAULT_KEYS
#define PKGTOOL_DEFAULT_KEYS "keys/dev-private.txt"
#endif
#ifndef PKGTOOL_VERSION
#define PKGTOOL_VERSION "unknown"
#endif

namespace {

constexpr const char kUsage[] =
    "usage: pkgtool build <description> -o <out.npk> [--keys <private key file>]\n"
    "       pkgtool inspect <package file> [--keys <public key file>]\n"
    "       pkgtool verify <package file> [--keys <public key file>]\n"
    "       pkgtool keygen <dir>\n"
    "       pkgtool --help | -h | --version\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "pkgtool: %s\n", message.c_str());
    return 1;
}

// The build time of packages whose description has no "build-time" line: SOURCE_DATE_EPOCH
// when set (reproducible builds), else now. Never 0: the installer would take a rebuilt
// package for the one already installed.
bool default_build_time(std::uint32_t& out, std::string& err) {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        const char* end = epoch + std::strlen(epoch);
        auto r = std::from_chars(epoch, end, out);
        if (r.ec != std::errc() || r.ptr != end || out == 0) {
            err = std::string("SOURCE_DATE_EPOCH is not a time in seconds: ") + epoch;
            return false;
        }
        return true;
    }
    out = std::uint32_t(std::time(nullptr));
    return true;
}

void fill_build_time(PackageDescription& d, std::uint32_t when) {
    if (!d.hasBuildTime) d.buildTime = when;
    for (auto& m : d.members) fill_build_time(m, when);
}

// `<file> [--keys <public key file>]` of inspect and verify; false on a usage mistake.
bool file_and_keys(const std::vector<std::string>& args, std::string& file, std::string& keys) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--keys" && i + 1 < args.size()) {
            if (!keys.empty()) return false;
            keys = args[++i];
        } else if (file.empty() && !args[i].empty() && args[i][0] != '-') {
            file = args[i];
        } else {
            return false;
        }
    }
    return !file.empty();
}

int run_checker(const std::vector<std::string>& args, bool verify) {
    std::string file, keysPath;
    if (!file_and_keys(args, file, keysPath)) return usage();
    PublicKeys keys{};
    std::string text;
    if (!keysPath.empty() && !read_whole_file(keysPath, text)) {
        return fail(keysPath + ": " + std::strerror(errno));
    }
    if (!keysPath.empty() && !parse_public_keys(text, keys)) {
        return fail(keysPath + ": not a public key file");
    }
    const PublicKeys* chosen = keysPath.empty() ? nullptr : &keys;
    return verify ? verify_package(file, chosen) : inspect_package(file, chosen);
}

bool needs_signing(const PackageDescription& d) {
    if (!d.isBundle) return d.signature != SignatureKind::None;
    for (const auto& m : d.members)
        if (needs_signing(m)) return true;
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
    if (!load_description(description, desc, err, true)) return fail(err);
    std::uint32_t when = 0;
    if (!default_build_time(when, err)) return fail(err);
    fill_build_time(desc, when);
    std::unique_ptr<KeySet> keySet;
    if (needs_signing(desc)) {
        keySet = KeySet::load(keys.empty() ? std::string(PKGTOOL_DEFAULT_KEYS) : keys, err);
        if (!keySet) return fail(err);
    }
    std::string bytes;
    std::vector<std::string> warnings;
    const bool built =
        build_package_file(desc, keySet ? keySet->signer() : DigestSigner(), bytes, err, &warnings);
    for (const std::string& w : warnings) std::fprintf(stderr, "pkgtool: warning: %s\n", w.c_str());
    if (!built) return fail(err);
    if (!write_output(output, bytes, err)) return fail(err);
    std::printf("built %s: %s, %zu bytes\n", output.c_str(), desc.name.c_str(), bytes.size());
    return 0;
}

int run_keygen(const std::vector<std::string>& args) {
    if (args.size() != 1) return usage();
    std::string err;
    if (!write_new_key_set(args[0], err)) return fail(err);
    std::printf("wrote %s/public.txt and %s/%s (keep this one secret)\n", args[0].c_str(),
                args[0].c_str(), kNewPrivateKeyFile);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if ((command == "--help" || command == "-h") && args.empty()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version" && args.empty()) {
        std::printf("pkgtool %s\n", PKGTOOL_VERSION);
        return 0;
    }
    if (command == "build") return run_build(args);
    if (command == "inspect") return run_checker(args, false);
    if (command == "verify") return run_checker(args, true);
    if (command == "keygen") return run_keygen(args);
    return usage();
}
