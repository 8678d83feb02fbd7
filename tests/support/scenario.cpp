// Planner scenario fixture: builds records tersely and shows the outcome as short strings.

#include "support/scenario.h"

#include <cassert>

RecordBuilder& RecordBuilder::needs(const std::string& name, Version min, Version max) {
    record.depends.push_back({name, min, max, 0});
    return *this;
}

RecordBuilder& RecordBuilder::provides(const std::string& name, std::int32_t priority, Version min,
                                       Version max) {
    record.provides.push_back({name, min, max, priority});
    return *this;
}

RecordBuilder& RecordBuilder::conflicts(const std::string& name, Version min, Version max) {
    record.conflicts.push_back({name, min, max, 0});
    return *this;
}

RecordBuilder& RecordBuilder::built(std::uint32_t buildTime) {
    record.buildTime = buildTime;
    return *this;
}

RecordBuilder& RecordBuilder::arch(const std::string& arch) {
    record.arch = arch;
    return *this;
}

RecordBuilder& RecordBuilder::bundle() {
    record.isBundle = true;
    return *this;
}

RecordBuilder& RecordBuilder::member(const std::string& name, Version version) {
    auto m = std::make_unique<Package>(name);
    m->version = version;
    m->buildTime = record.buildTime;
    record.members.push_back(std::move(m));
    record.isBundle = true;
    return *this;
}

RecordBuilder& RecordBuilder::placeholder() {
    record.version = 0xFFFFFFFFu;
    record.buildTime = 0xFFFFFFFFu;
    return *this;
}

RecordBuilder& RecordBuilder::member_of(const std::string& bundleName) {
    assert(installed_);
    installed_->bundle = {bundleName, 0, 0, 0};
    return *this;
}

RecordBuilder& RecordBuilder::disabled() {
    assert(installed_);
    installed_->disabled = true;
    return *this;
}

RecordBuilder& RecordBuilder::action(std::uint32_t action) {
    assert(installed_);
    installed_->action = action;
    return *this;
}

RecordBuilder& RecordBuilder::files(const std::vector<std::string>& paths) {
    assert(installed_);
    installed_->files.insert(paths.begin(), paths.end());
    return *this;
}

Scenario::Scenario() : installer(Installer::reset()) {
    installer.quiet = false;
    installer.terminal = &terminal;
    installer.arch = "powerpc";
    set_flash_device(&flash);
}

Scenario::~Scenario() {
    set_flash_device(nullptr);
    txn.cancel();
    Installer::reset();
}

RecordBuilder Scenario::installed(const std::string& name, Version version) {
    auto record = std::make_unique<InstalledPackage>(name);
    record->version = version;
    InstalledPackage& p = *record;
    installer.packages.push_back(std::move(record));
    return RecordBuilder(p, &p);
}

InstalledPackage& Scenario::blocker(const std::string& member) {
    auto record = std::make_unique<InstalledPackage>("");
    record->conflicts.push_back({member, 0, 0, 0});
    InstalledPackage& p = *record;
    installer.packages.push_back(std::move(record));
    return p;
}

RecordBuilder Scenario::candidate(const std::string& name, Version version) {
    candidates.push_back(std::make_unique<Package>(name));
    candidates.back()->version = version;
    return RecordBuilder(*candidates.back(), nullptr);
}

InstalledPackage& Scenario::get(const std::string& name) {
    const auto index = installer.index_of_package(name);
    assert(index);
    return *installer.packages[*index];
}

std::string Scenario::actions() const {
    static const char* const kWords[] = {"-", "uninstall", "enable", "disable"};
    std::string out;
    for (const auto& p : installer.packages) {
        if (!out.empty()) out += ' ';
        out += p->name + "=" + (p->action < 4 ? kWords[p->action] : "?");
        if (p->disabled) out += "(disabled)";
    }
    return out;
}

std::string Scenario::names(const std::vector<InstalledPackage*>& list) {
    std::string out;
    for (const InstalledPackage* p : list) out += (out.empty() ? "" : " ") + p->name;
    return out;
}

std::string Scenario::names(const std::vector<std::unique_ptr<Package>>& list) {
    std::string out;
    for (const auto& p : list) out += (out.empty() ? "" : " ") + p->name;
    return out;
}

std::string Scenario::installed_names() const {
    std::string out;
    for (const auto& p : installer.packages) out += (out.empty() ? "" : " ") + p->name;
    return out;
}

std::string Scenario::txn_entries() const {
    static const char* const kKinds[] = {"move", "movetemp", "?", "link", "remove"};
    std::string out;
    for (const auto& [path, op] : txn.entries())
        out += std::string(op.op < 5 ? kKinds[op.op] : "?") + " " + path + "\n";
    return out;
}
