#pragma once
// Planner scenarios in a few lines: a fresh Installer with installed records, candidates, a
// recording terminal, a fake flash device and a Transaction that is cancelled at the end.

#include "core/installer.h"
#include "core/package.h"
#include "core/terminal.h"
#include "flash/flash_device.h"
#include "support/version.h"
#include "txn/transaction.h"

#include <memory>
#include <sstream>
#include <string>
#include <vector>

// The Installer's messages, one per line.
inline std::string message_lines() {
    std::string out;
    for (const std::string& m : Installer::instance().messages) out += m + "\n";
    return out;
}

// The one terminal of the tests: keeps what is written and how much of it was flushed.
struct RecordingTerminal : Terminal {
    void write(std::string_view bytes) override { output.append(bytes); }
    void flush() override { flushed = output.size(); }
    std::string output;
    std::size_t flushed = 0;
};

struct FakeFlash : FlashDevice {
    std::uint32_t min_version() override { return minVersion; }
    bool mtd0_has_256k_blocks() override { return bigBlocks; }
    int flash_flag() override {
        ++flagQueries;
        return flag;
    }
    std::uint32_t pvr() override { return pvrValue; }
    std::uint32_t minVersion = 0, pvrValue = 0;
    bool bigBlocks = false;
    int flag = 0, flagQueries = 0;
};

// The one formatter of pending journal entries: "kind path" per line, the kind being move,
// movetemp, link or remove; without `removals` only what would add to flash.
inline std::string pending_entries(const Transaction& txn, bool removals = true) {
    static const char* const kKinds[] = {"move", "movetemp", "?", "link", "remove"};
    std::string out;
    for (const auto& [path, op] : txn.entries())
        if (removals || op.op != FileOpKind::Remove)
            out += std::string(kKinds[std::uint32_t(op.op) % 5]) + " " + path + "\n";
    return out;
}

// Fluent editor of one record; the setters of installed state need an InstalledPackage.
struct RecordBuilder {
    RecordBuilder& needs(const std::string& name, Version min = 0, Version max = 0) {
        record.depends.push_back({name, min, max, 0});
        return *this;
    }
    RecordBuilder& provides(const std::string& name, std::int32_t prio = 0, Version min = 0,
                            Version max = 0) {
                                record.provides.push_back({name, min, max, prio});
                                return *this;
                            }
    RecordBuilder& conflicts(const std::string& name, Version min = 0) {
        record.conflicts.push_back({name, min, 0, 0});
        return *this;
    }
    RecordBuilder& member(const std::string& name, Version version) {  // candidate bundles
        auto& m = *record.members.emplace_back(std::make_unique<Package>(name));
        m.version = version;
        m.buildTime = record.buildTime;
        return bundle();
    }
    RecordBuilder& built(std::uint32_t time) { record.buildTime = time; return *this; }
    RecordBuilder& arch(const std::string& arch) { record.arch = arch; return *this; }
    RecordBuilder& bundle() { record.isBundle = true; return *this; }
    RecordBuilder& placeholder() { record.version = record.buildTime = ~0u; return *this; }
    RecordBuilder& member_of(const std::string& b) { installed->bundle = {b}; return *this; }
    RecordBuilder& disabled() { installed->disabled = true; return *this; }
    RecordBuilder& action(std::uint32_t action) { installed->action = action; return *this; }
    RecordBuilder& files(const std::vector<std::string>& paths) {
        installed->files.insert(paths.begin(), paths.end());
        return *this;
    }

    Package& record;
    InstalledPackage* installed;
};

class Scenario {
public:
    Scenario() : installer(Installer::reset()) {
        installer.quiet = false;
        installer.terminal = &terminal;
        installer.flash = &flash;
        installer.arch = "powerpc";
    }
    ~Scenario() {  // not copyable: it holds a Transaction
        txn.cancel();
        Installer::reset();
    }

    // Appends an installed record to installer.packages.
    RecordBuilder installed(const std::string& name, Version version = ver(6, 40)) {
        auto& p = installer.packages.emplace_back(std::make_unique<InstalledPackage>(name));
        p->version = version;
        return RecordBuilder{*p, p.get()};
    }
    // Installed records from a short text, one word per record: a name, then "@41" for version
    // 6.41, "~" disabled, "!u", "!e" or "!d" for the action, ">x" needs x, "+x" or "+x:-1"
    // provides x (with a priority), "#x" conflicts with x, "^x" member of bundle x, "*" bundle.
    void given(const std::string& text) {
        std::istringstream words(text);
        for (std::string w; words >> w;) {
            auto arg = [&](std::size_t& i) {
                const std::size_t end = w.find_first_of("@~!>+#^*:", i);
                std::string a = w.substr(i, end - i);
                i = std::min(end, w.size());
                return a;
            };
            std::size_t i = 0;
            RecordBuilder r = installed(arg(i));
            while (i < w.size()) {
                const char mark = w[i++];
                if (mark == '@') r.record.version = ver(6, unsigned(std::stoi(arg(i))));
                if (mark == '~') r.disabled();
                if (mark == '!') r.action(std::string("-ued").find(w[i++]));
                if (mark == '>') r.needs(arg(i));
                if (mark == '#') r.conflicts(arg(i));
                if (mark == '^') r.member_of(arg(i));
                if (mark == '*') r.bundle();
                if (mark == '+') r.provides(arg(i));
                if (mark == ':') r.record.provides.back().priority = std::stoi(arg(i));
            }
        }
    }
    // A blocker record as bundle installation adds it: empty name, conflicting with `member`.
    void blocker(const std::string& member) { installed("", 0).conflicts(member); }
    RecordBuilder candidate(const std::string& name, Version version = ver(6, 40)) {
        candidates.push_back(std::make_unique<Package>(name));
        candidates.back()->version = version;
        return RecordBuilder{*candidates.back(), nullptr};
    }
    InstalledPackage& get(const std::string& name) {
        return *installer.packages.at(installer.index_of_package(name).value());
    }

    // "name=word ..." in list order; word is -, uninstall, enable or disable, with a
    // "(disabled)" mark for disabled records.
    std::string actions() const {
        static const char* const kWords[] = {"-", "uninstall", "enable", "disable"};
        std::string out;
        for (const auto& p : installer.packages)
            out += (out.empty() ? "" : " ") + p->name + "=" +
                   (p->action < 4 ? kWords[p->action] : "?") + (p->disabled ? "(disabled)" : "");
        return out;
    }
    template <class List> static std::string names(const List& list) {
        std::string out;
        for (const auto& p : list) out += (out.empty() ? "" : " ") + p->name;
        return out;
    }
    const std::vector<std::string>& messages() const { return installer.messages; }

    Installer& installer;
    RecordingTerminal terminal;
    FakeFlash flash;
    Transaction txn;
    std::vector<std::unique_ptr<Package>> candidates;
};
