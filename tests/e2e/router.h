#pragma once
// A scratch router for end-to-end runs of the installer binary: a root directory whose /flash
// and /ram are small tmpfs mounts in a private mount namespace, packages built from description
// text with the development keys, and views of what the runs left on flash.

#include "core/package.h"
#include "pkglib/description.h"
#include "support/mount_ns.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The package file for a description (see docs/package-description.md), signed with the
// development keys; empty (with a test failure) when it cannot be built.
std::string package(const std::string& description);
// package() of "name", "version", a fixed build time and further description `lines`.
std::string pkg(const std::string& name, const std::string& version,
                const std::string& lines = {});

// A bundle of the given members (built as single packages are), signed with the development
// keys; `optional` names the optional members.
std::string bundle(const std::string& name, Version version,
                   const std::vector<PackageDescription>& members,
                   const std::vector<std::string>& optional = {});
// A member or package recipe: name, version, and files given as "path=content".
PackageDescription recipe(const std::string& name, Version version,
                          const std::vector<std::string>& files = {});

// Packed version: ver(6, 40) is 6.40, ver(6, 41, 'b', 3) is 6.41beta3.
constexpr Version ver(unsigned major, unsigned minor, char kind = 'f', unsigned revision = 0) {
    return Version(major) << 24 | Version(minor) << 16 | Version(std::uint8_t(kind)) << 8 |
           Version(revision);
}

// Every path below `dir` by relative path: directories as "/", links as "-> target", files by
// content (large ones by size and hash). `exact` adds the kind and permission bits and keeps
// every file's whole content.
using Tree = std::map<std::string, std::string>;
Tree snapshot(const std::string& dir, bool exact = false);
// What differs from `before` in `after`, one line per path (the first few); empty when equal.
std::string difference(const Tree& before, const Tree& after);

// The package file with one byte altered, `offsetFromEnd` bytes before its last one.
std::string tampered(const std::string& packageBytes, std::size_t offsetFromEnd);

class Router {
public:
    // Blocks of tmpfs_block_size() bytes.
    explicit Router(std::uint64_t flashBlocks = 2048, std::uint64_t ramBlocks = 512);

    // Mounts are in place; otherwise the reason.
    bool ok() const { return flash_->ok() && ram_->ok(); }
    std::string error() const { return flash_->error() + ram_->error(); }
    // A path below the root: at("flash/bin/a").
    std::string at(const std::string& relative) const { return root_ / relative; }

    // Runs the installer with "-r <root>" before `args`. The environment holds PATH and `env`.
    RunResult run(const std::vector<std::string>& args, const std::string& input = {},
                  const std::vector<std::string>& env = {}) const;
    RunResult upgrade(const std::vector<std::string>& args = {},
                      const std::vector<std::string>& env = {}) const { return run(args, {}, env); }
    RunResult stream(const std::string& bytes, const std::vector<std::string>& env = {}) const {
        return run({"-"}, bytes, env);
    }
    // Writes a file below the root (parents made).
    void put(const std::string& relative, const std::string& content) const;
    // Uploads a package file into /flash/rw/pckg/ (or another upload directory).
    void upload(const std::string& fileName, const std::string& bytes,
                const std::string& dir = "flash/rw/pckg/") const {
        put(dir + fileName, bytes);
    }
    // The schedule file of a package.
    void schedule(const std::string& name, const std::string& word) const {
        put("ram/pdb/" + name + "/schedule", word + "\n");
    }

    // "--show" as "name version" sorted by name, joined by ", "; " X" (disabled) and " B"
    // (bundle member) follow the name.
    std::string installed() const;
    // snapshot() of /flash, without the post-install log unless asked for.
    Tree flash(bool withLog = false) const;
    // Makes the root hold exactly `tree`, a snapshot(at(""), true).
    void restore(const Tree& tree) const;
    bool exists(const std::string& relative) const { return path_exists(at(relative)); }
    std::string read(const std::string& relative) const { return read_file(at(relative)); }

private:
    TempDir root_;
    std::unique_ptr<TmpfsMount> flash_;
    std::unique_ptr<TmpfsMount> ram_;
};

// Skips unless mounts can be made, then makes a Router `r` and asserts its mounts.
#define ROUTER(r, ...)                                      \
    SKIP_WITHOUT_MOUNTS();                                  \
    Router r{__VA_ARGS__};                                  \
    ASSERT_TRUE(r.ok()) << r.error()

// Output contains `part`.
inline bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
