// The scratch router of the end-to-end tests.

#include "e2e/router.h"

#include "support/recipes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <cstdio>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

std::string summary(const std::string& content) {
    if (content.size() <= 256) return content;
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : content) hash = (hash ^ c) * 1099511628211ull;
    return "<" + std::to_string(content.size()) + " bytes, " + std::to_string(hash) + ">";
}

// Members are written beside each other as files, for the bundle's "member" lines.
std::string short_package(const std::string& text) {
    static TempDir members;
    static int count = 0;
    auto lines = [](std::string part) {
        for (std::size_t at; (at = part.find(" blocks}")) != std::string::npos;) {
            const std::size_t open = part.rfind('{', at);
            const auto n = std::stoul(part.substr(open + 1, at - open - 1));
            part.replace(open, at + 8 - open, std::string(n * tmpfs_block_size(), 'x'));
        }
        for (std::size_t at; (at = part.find("; ")) != std::string::npos;) part.replace(at, 2, "\n");
        const std::size_t space = part.find(' '), end = part.find('\n');
        std::string out = "name " + part.substr(0, space) + "\nversion " +
                          part.substr(space + 1, end - space - 1) + "\n" +
                          (end == std::string::npos ? "" : part.substr(end + 1) + "\n");
        return has(out, "build-time") ? out : out + "build-time 1700000000\n";
    };
    std::string text_ = text, description;
    for (std::size_t bar; (bar = text_.rfind(" | ")) != std::string::npos; text_.erase(bar)) {
        const std::string file = members / (std::to_string(++count) + ".txt");
        write_file(file, lines(text_.substr(bar + 3)));
        description = "member " + file + "\n" + description;
    }
    static std::string keyErr;
    static const std::unique_ptr<KeySet> keys = load_dev_keys(INSTALLER_KEYS_DIR, keyErr);
    PackageDescription desc;
    std::string err, out;
    if (keys && parse_description(lines(text_) + description, ".", desc, err))
        out = build_recipe(desc, keys->signer(), err);
    EXPECT_NE(out, "") << keyErr << err << "\n" << text;
    return out;
}

Tree snapshot(const std::string& dir) {
    Tree out;
    std::error_code ec;
    const std::size_t prefix = dir.size() + (dir.ends_with("/") ? 0 : 1);
    for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
        const std::string path = e.path(), rel = path.substr(prefix);
        const fs::file_status st = e.symlink_status(ec);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o ", unsigned(st.permissions()) & 07777u);
        if (fs::is_symlink(st)) out[rel] = "-> " + fs::read_symlink(path, ec).string();
        else if (fs::is_directory(st)) out[rel] = std::string("dir ") + mode;
        else out[rel] = (fs::is_regular_file(st) ? "file " : "other ") + (mode + read_file(path));
    }
    return out;
}

std::string difference(const Tree& before, const Tree& after) {
    std::string out;
    int shown = 0;
    auto note = [&](const std::string& line) { out += shown++ < 6 ? "\n      " + line : ""; };
    for (const auto& [path, v] : before) {
        const auto it = after.find(path);
        if (it == after.end()) note("removed " + path);
        else if (it->second != v) note("changed " + path + ": " + it->second.substr(0, 60));
    }
    for (const auto& [path, v] : after)
        if (before.count(path) == 0) note("added " + path + ": " + v.substr(0, 60));
    return out;
}

RunResult Router::run(const std::vector<std::string>& args, const std::string& input,
                      const std::vector<std::string>& env) const {
    std::vector<std::string> all = {"-r", root_.path()}, environment = {"PATH=/usr/bin:/bin"};
    all.insert(all.end(), args.begin(), args.end());
    environment.insert(environment.end(), env.begin(), env.end());
    return run_program(INSTALLER_BIN, all, input, environment);
}

void Router::put(const std::string& relative, const std::string& content) const {
    ASSERT_TRUE(write_file(at(relative), content)) << relative;
}

std::string Router::installed() const {
    std::istringstream lines(run({"--show"}).out);
    std::set<std::string> entries;
    auto trimmed = [](std::string text) { return text.erase(0, text.find_first_not_of(' ')); };
    std::string line;
    for (int n = 0; std::getline(lines, line); ++n)
        if (n >= 2 && line.size() >= 34)  // past the header and the rule
            entries.insert(trimmed(line.substr(0, 16)) + (line[17] == 'X' ? " X" : "") +
                           (line[18] == 'B' ? " B" : "") + " " + trimmed(line.substr(20, 13)));
    std::string out;
    for (const std::string& e : entries) out += (out.empty() ? "" : ", ") + e;
    return out;
}

// Everything below the root is deleted (the tmpfs mount points stay) and made again, directory
// modes last so that no directory is closed before it is filled.
void Router::restore(const Tree& tree) const {
    std::error_code ec, inner;
    for (const auto& top : fs::directory_iterator(at(""), ec)) {
        const std::string name = top.path().filename();
        if (name != "flash" && name != "ram") fs::remove_all(top.path(), inner);
        else
            for (const auto& entry : fs::directory_iterator(top.path(), inner))
                fs::remove_all(entry.path(), inner);
    }
    auto mode_of = [](const std::string& n, int at) { return std::stoul(n.substr(at, 4), 0, 8); };
    for (const auto& [rel, node] : tree) {
        const std::string path = at(rel);
        if (node.starts_with("-> ")) {
            ASSERT_EQ(::symlink(node.c_str() + 3, path.c_str()), 0) << path;
        } else if (node.starts_with("file ")) {
            ASSERT_TRUE(write_file(path, node.substr(10))) << path;
            ::chmod(path.c_str(), mode_of(node, 5));
        } else {
            ::mkdir(path.c_str(), 0700);
        }
    }
    for (const auto& [rel, node] : tree)
        if (node.starts_with("dir ")) ::chmod(at(rel).c_str(), mode_of(node, 4));
}
