#pragma once
// A scratch router for end-to-end runs of the installer binary: a root directory whose /flash
// and /ram are small tmpfs mounts in a private mount namespace, packages built from description
// text with the development keys, and views of what the runs left.

#include "support/mount_ns.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The package file for a description (see docs/package-description.md) in one line, signed
// with the development keys, with a fixed build time unless given: "a 6.40; file bin/a 0755
// one" is package "a" 6.40 with one file. " | " starts each member of a bundle; "{N blocks}"
// stands for N tmpfs blocks of 'x'.
std::string short_package(const std::string& text);

// Every path below `dir` by relative path: directories as "dir MODE", links as "-> target",
// files as "file MODE content".
using Tree = std::map<std::string, std::string>;
Tree snapshot(const std::string& dir);
// What differs from `before` in `after`, one line per path (the first few); empty when equal.
std::string difference(const Tree& before, const Tree& after);
// A file's content as snapshot() shows it: large ones by size and hash.
std::string summary(const std::string& content);

class Router {
public:
    // Blocks of tmpfs_block_size() bytes.
    explicit Router(std::uint64_t flashBlocks = 2048, std::uint64_t ramBlocks = 512)
        : flash_(root_ / "flash", flashBlocks), ram_(root_ / "ram", ramBlocks) {}

    std::string error() const { return flash_.error() + ram_.error(); }  // empty when mounted
    std::string at(const std::string& relative) const { return root_ / relative; }

    // Runs the installer with "-r <root>" before `args`. The environment holds PATH and `env`.
    RunResult run(const std::vector<std::string>& args, const std::string& input = {},
                  const std::vector<std::string>& env = {}) const;
    void put(const std::string& relative, const std::string& content) const;  // parents made
    void schedule(const std::string& name, const std::string& word) const {
        put("ram/pdb/" + name + "/schedule", word + "\n");
    }
    // "--show" as "name version" sorted by name, joined by ", "; " X" (disabled) and " B"
    // (bundle member) follow the name.
    std::string installed() const;
    // Makes the root hold exactly `tree`, a snapshot(at("")).
    void restore(const Tree& tree) const;
    std::string read(const std::string& relative) const { return read_file(at(relative)); }

private:
    TempDir root_;
    TmpfsMount flash_, ram_;
};

// Skips unless mounts can be made, then makes a Router `r` and asserts its mounts.
#define ROUTER(r, ...)                                      \
    SKIP_WITHOUT_MOUNTS();                                  \
    Router r{__VA_ARGS__};                                  \
    ASSERT_EQ(r.error(), "")

inline bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
