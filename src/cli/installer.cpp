// The process-wide Installer and its lookups. Console members live in console/console.cpp.

#include "cli/installer.h"

namespace {
// Never destroyed: the instance lives until the process ends, and freeing every record of a
// large database one by one at exit costs more than loading it (the kernel takes it back whole).
std::unique_ptr<Installer>& slot() {
    static auto* installer = new std::unique_ptr<Installer>();
    return *installer;
}
}  // namespace

Installer& Installer::instance() {
    if (!slot()) slot() = std::make_unique<Installer>();
    return *slot();
}

Installer& Installer::reset() {
    slot() = std::make_unique<Installer>();
    return *slot();
}

std::optional<std::size_t> Installer::index_of_package(const std::string& name) const {
    for (std::size_t i = 0; i < packages.size(); ++i)
        if (packages[i]->name == name) return i;
    return std::nullopt;
}
