// One package stream into the driver.

#include "cli/stream_install.h"

#include "core/input_file.h"
#include "core/installer.h"
#include "package/format.h"
#include "package/package_reader.h"
#include "plan/driver.h"

int install_stream(Installer& installer, Transaction& txn, ByteSource& input,
                   PlannerFlags flags, const UserForcedMap& userForced, ByteSink* copyTarget,
                   std::string* dirOut, bool* bootOut) {
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
