#pragma once
// Planner scenarios in a few lines: a fresh Installer with installed records, candidates, a
// recording terminal, a fake flash device and a Transaction that is cancelled at the end.

#include "cli/installer.h"
#include "console/terminal.h"
#include "flash/flash_device.h"
#include "pdb/package.h"
#include "txn/transaction.h"

#include <memory>
#include <string>
#include <vector>

// Packed version from its parts: ver(6, 40) is 6.40, ver(6, 41, 'b', 3) is 6.41beta3.
constexpr Version ver(unsigned major, unsigned minor, char kind = 'f', unsigned revision = 0) {
    return Version(major) << 24 | Version(minor) << 16 | Version(std::uint8_t(kind)) << 8 |
           Version(revision);
}

class RecordingTerminal : public Terminal {
public:
    void write(std::string_view bytes) override { output.append(bytes); }
    void flush() override {}
    std::string output;
};

class FakeFlash : public FlashDevice {
public:
    std::uint32_t min_version() override { return minVersion; }
    bool mtd0_has_256k_blocks() override { return bigBlocks; }
    int flash_flag() override { return 0; }
    std::uint32_t pvr() override { return 0; }
    std::uint32_t minVersion = 0;
    bool bigBlocks = false;
};

// Fluent editor of one record; the installed-only setters need an InstalledPackage.
class RecordBuilder {
public:
    RecordBuilder(Package& record, InstalledPackage* installed)
        : record(record), installed_(installed) {}
    RecordBuilder& needs(const std::string& name, Version min = 0, Version max = 0);
    RecordBuilder& provides(const std::string& name, std::int32_t priority = 0, Version min = 0,
                            Version max = 0);
    RecordBuilder& conflicts(const std::string& name, Version min = 0, Version max = 0);
    RecordBuilder& built(std::uint32_t buildTime);
    RecordBuilder& arch(const std::string& arch);
    RecordBuilder& bundle();                                          // a bundle record (isBundle)
    RecordBuilder& member(const std::string& name, Version version);  // candidate bundles only
    RecordBuilder& placeholder();
    RecordBuilder& member_of(const std::string& bundleName);
    RecordBuilder& disabled();
    RecordBuilder& action(std::uint32_t action);
    RecordBuilder& files(const std::vector<std::string>& paths);
    operator InstalledPackage&() const { return *installed_; }

    Package& record;

private:
    InstalledPackage* installed_;
};

class Scenario {
public:
    Scenario();
    ~Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    // Appends an installed record (version 6.40 unless given) to installer.packages.
    RecordBuilder installed(const std::string& name, Version version = ver(6, 40));
    // A blocker record as bundle installation adds it: empty name, conflicting with `member`.
    InstalledPackage& blocker(const std::string& member);
    // A candidate owned by the scenario.
    RecordBuilder candidate(const std::string& name, Version version = ver(6, 40));
    InstalledPackage& get(const std::string& name);

    // "name=word ..." for every record in list order; word is -, uninstall, enable or disable,
    // with a "(disabled)" mark for disabled records.
    std::string actions() const;
    static std::string names(const std::vector<InstalledPackage*>& list);
    static std::string names(const std::vector<std::unique_ptr<Package>>& list);
    // The names of installer.packages in order.
    std::string installed_names() const;
    // Every pending Transaction entry as "kind path", one per line.
    std::string txn_entries() const;
    const std::vector<std::string>& messages() const { return installer.messages; }

    Installer& installer;
    RecordingTerminal terminal;
    FakeFlash flash;
    Transaction txn;
    std::vector<std::unique_ptr<Package>> candidates;
};
