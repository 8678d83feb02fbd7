// The scratch router of the end-to-end tests.

#include "e2e/router.h"

#include "pkglib/description.h"
#include "pkglib/key_set.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

namespace {

const KeySet& dev_keys() {
    static std::unique_ptr<KeySet> keys = [] {
        std::string err;
        auto k = KeySet::load(std::string(INSTALLER_KEYS_DIR) + "/dev-private.txt", err);
        if (!k) ADD_FAILURE() << "development keys: " << err;
        return k;
    }();
    return *keys;
}

std::string summary(const std::string& content) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : content) hash = (hash ^ c) * 1099511628211ull;
    return "<" + std::to_string(content.size()) + " bytes, " + std::to_string(hash) + ">";
}

void walk(const std::string& dir, const std::string& prefix,
          std::map<std::string, std::string>& out) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    for (const std::string& n : names) {
        const std::string path = dir + "/" + n;
        const std::string rel = prefix + n;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t len = ::readlink(path.c_str(), target, sizeof target);
            out[rel] = "-> " + std::string(target, len > 0 ? std::size_t(len) : 0);
        } else if (S_ISDIR(st.st_mode)) {
            out[rel] = "/";
            walk(path, rel + "/", out);
        } else {
            // Large files by size and hash, so that a failed comparison stays readable.
            const std::string content = read_file(path);
            out[rel] = content.size() <= 256 ? content : summary(content);
        }
    }
}

}  // namespace

std::string package(const std::string& description) {
    PackageDescription desc;
    std::string err;
    if (!parse_description(description, ".", desc, err)) {
        ADD_FAILURE() << "description: " << err << "\n" << description;
        return {};
    }
    std::string out;
    if (!build_package_file(desc, dev_keys().signer(), out, err)) {
        ADD_FAILURE() << "build: " << err;
        return {};
    }
    return out;
}

std::string tampered(const std::string& packageBytes, std::size_t offsetFromEnd) {
    std::string out = packageBytes;
    if (offsetFromEnd < out.size()) out[out.size() - 1 - offsetFromEnd] ^= 0x5a;
    return out;
}

Router::Router(std::uint64_t flashBlocks, std::uint64_t ramBlocks)
    : flash_(std::make_unique<TmpfsMount>(root_ / "flash", flashBlocks)),
      ram_(std::make_unique<TmpfsMount>(root_ / "ram", ramBlocks)) {}

RunResult Router::run(const std::vector<std::string>& args, const std::string& input,
                      const std::vector<std::string>& env) const {
    std::vector<std::string> all = {"-r", root_.path()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
    environment.insert(environment.end(), env.begin(), env.end());
    return run_program(INSTALLER_BIN, all, input, environment);
}

void Router::put(const std::string& relative, const std::string& content) const {
    ASSERT_TRUE(write_file(at(relative), content)) << relative;
}

std::string Router::installed() const {
    RunResult r = run({"--show"});
    std::istringstream lines(r.out);
    std::string line;
    std::vector<std::string> entries;
    int skip = 2;  // header and rule
    while (std::getline(lines, line)) {
        if (skip > 0) {
            --skip;
            continue;
        }
        if (line.size() < 34) continue;
        std::string name = line.substr(0, 16);
        name.erase(0, name.find_first_not_of(' '));
        std::string entry = name;
        if (line[17] == 'X') entry += " X";
        if (line[18] == 'B') entry += " B";
        std::string version = line.substr(20, 13);
        version.erase(0, version.find_first_not_of(' '));
        entries.push_back(entry + " " + version);
    }
    std::sort(entries.begin(), entries.end());
    std::string out;
    for (const std::string& e : entries) out += (out.empty() ? "" : ", ") + e;
    return out;
}

std::map<std::string, std::string> Router::flash(bool withLog) const {
    std::map<std::string, std::string> out;
    walk(at("flash"), "", out);
    if (!withLog) out.erase("postlog");
    return out;
}

std::string bundle(const std::string& name, Version version,
                   const std::vector<PackageSpec>& members,
                   const std::vector<std::string>& optional) {
    std::vector<Dependency> optionalList;
    for (const std::string& n : optional) optionalList.push_back({n, 0, 0, 0});
    const Signer sign = [](const std::uint8_t digest[32]) {
        return dev_keys().sign(digest, SignatureKind::LegacyAndEddsa);
    };
    return build_bundle({name, version, 1700000000, 0}, members, sign, optionalList);
}

PackageSpec recipe(const std::string& name, Version version, const std::vector<std::string>& files) {
    PackageSpec s;
    s.header = {name, version, 1700000000, 0};
    for (const std::string& f : files) {
        const std::size_t eq = f.find('=');
        FileEntry e;
        e.name = f.substr(0, eq);
        e.data = eq == std::string::npos ? std::string() : f.substr(eq + 1);
        s.files.push_back(e);
    }
    return s;
}
