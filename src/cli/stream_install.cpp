// One package stream into the driver, and the cleanup of packages made for old systems.

#include "cli/stream_install.h"

#include "core/installer.h"
#include "package/format.h"
#include "package/package_reader.h"
#include "plan/driver.h"

namespace {

// The cleanup keeps only packages that require at least this "system" (3.22, final release).
constexpr Version kOldestCurrentSystem = 0x031665FFu;

bool is_kept_by_cleanup(const InstalledPackage& p) {
    if (p.isBundle || p.name == "zephlin" || p.name == "disk-drivers" || p.name == "system")
        return true;
    for (const Dependency& d : p.depends)
        if (d.name == "system" && d.min > kOldestCurrentSystem) return true;
    return false;
}

}  // namespace

int install_stream(Installer& installer, Transaction& txn, std::istream& input,
                   PlannerFlags flags, const UserForcedMap& userForced,
                   std::streambuf* copyTarget, std::string* dirOut, bool* bootOut) {
    if (bootOut) *bootOut = false;
    if (dirOut) dirOut->clear();
    PackageReader reader(input, true, copyTarget);
    for (std::uint32_t type : kInstallChunks) reader.want(type);
    if (reader.next_chunk() == kChunkBundleHeader)
        return int(install_bundle_stream(installer, txn, reader, flags, userForced, dirOut,
                                         bootOut));
    const StreamResult result = install_package_stream(installer, txn, reader, flags, userForced,
                                                       nullptr, dirOut, bootOut);
    return result == StreamResult::Failed ? 1 : 0;
}

bool cleanup(Installer& installer, Transaction& txn) {
    settle_actions(installer, txn, Verbosity::Silent);
    for (const auto& p : installer.packages)
        if (!p->name.empty() && !is_kept_by_cleanup(*p)) p->action = kActionUninstall;
    return settle_actions(installer, txn, Verbosity::Changes);
}
