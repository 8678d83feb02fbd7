// The run modes after the entry's scan: the listing, the cleanup, the stream installation and
// the default upgrade run, each with its exit status.

#include "cli/run_modes.h"

#include "cli/run_guard.h"
#include "cli/staged_modes.h"
#include "cli/stream_copy.h"
#include "cli/stream_install.h"
#include "cli/upgrade_run.h"
#include "core/input_file.h"
#include "core/installer.h"
#include "pdb/database_loader.h"
#include "pdb/listing.h"
#include "plan/actions.h"
#include "plan/driver.h"
#include "txn/journal.h"
#include "txn/transaction.h"

#include <cstdio>
#include <cstring>

namespace {

// Tells the rest of the system that the installed package set changed: an empty file that the
// commit puts in place.
void mark_packages_changed(Transaction& txn) {
    (void)create_file(txn, kPackagesChangedPath, 1, 0).close();
}

// Queues where stream mode's copy goes, or deletes it. The copy may only become an image when it
// holds the whole package: the same-build paths stop after the header part and leave it short.
// False when a boot image or package image was due and the copy is unusable: the installation
// queued the removal of the old one and must not go ahead without its replacement.
bool place_stream_copy(Installer& installer, Transaction& txn, const StreamCopy& copy,
                       bool wholeStream, const std::string& dir, bool boot) {
    const bool wanted = boot || !dir.empty();
    if (wanted && wholeStream && !copy.ok()) {
        installer.error("could not write image: %s", std::strerror(copy.error_number()));
        txn.file_system().remove_file(kStreamCopyPath);
        return false;
    }
    if (!wanted || !wholeStream) {
        txn.file_system().remove_file(kStreamCopyPath);
        return true;
    }
    // Owned by the journal from here on: a cancel deletes it like any temporary file.
    if (boot) {
        txn.add_op(kBootImagePath, FileOpKind::MoveTemp, kStreamCopyPath);
        if (!dir.empty()) txn.add_link(kBootImagePath, dir + "image");
    } else {
        txn.add_op(dir + "image", FileOpKind::MoveTemp, kStreamCopyPath);
    }
    return true;
}

}  // namespace

void open_run(const Settings& settings, const std::string& architecture) {
    open_database(Installer::instance(), settings.quiet, architecture);
}

// The listing of the database as open_database loaded it; nothing is changed and no log is written.
int run_show_mode(const Settings&) {
    const std::string listing = listing_text(Installer::instance());
    std::fwrite(listing.data(), 1, listing.size(), stdout);
    std::fflush(stdout);
    return 0;
}

int run_cleanup_mode(const Settings&) {
    Transaction txn;
    txn.set_staging_marker(kStagingMarkerPath);
    (void)cleanup(Installer::instance(), txn);
    return commit_run(Installer::instance(), txn) ? 0 : 1;
}

int run_stream_mode(const Settings& settings) {
    Installer& installer = Installer::instance();
    Transaction txn;
    txn.set_staging_marker(kStagingMarkerPath);
    (void)apply_actions(installer, txn, Verbosity::Changes);

    // A first installation from a stream finds no database directory yet.
    make_dirs(txn.file_system(), std::string(kStreamCopyDir));
    StreamCopy copy;
    if (!copy.open(kStreamCopyPath)) {
        std::printf("ERROR: could not open image\n");
        std::fflush(stdout);
        txn.cancel();
        return -1;
    }
    std::string dir;
    bool boot = false;
    InputFile input = InputFile::standard_input();
    int status = install_stream(installer, txn, input, settings.plannerFlags | kAdmitUpgrade,
                                UserForcedMap(), &copy, &dir, &boot);
    // The installation stopped copying as soon as it saw the copy would not be kept; what the
    // buffer still holds need not reach flash either.
    if (boot || !dir.empty())
        (void)copy.close();
    else
        copy.discard();
    const bool wholeStream = input.at_end();

    if (status == 0 && !place_stream_copy(installer, txn, copy, wholeStream, dir, boot))
        status = 1;
    if (status != 0) {
        // As in the upgrade run: nothing of a failed installation reaches flash, and the
        // scheduled requests stay in their files for the next run.
        txn.cancel();
        txn.file_system().remove_file(kStreamCopyPath);
    } else {
        mark_packages_changed(txn);
        if (!commit_run(installer, txn)) status = 1;
    }
    installer.finish();
    return status;
}

int run_upgrade_mode(const Settings& settings) {
    Installer& installer = Installer::instance();
    // Staging again replaces the earlier staged run; its temporary files would otherwise stay
    // on flash and /ram with nothing left that names them.
    if (!settings.commitAtOnce && cancel_staged_run(kManifestPath))
        installer.info("cancelling earlier staged upgrade");
    Transaction txn;
    txn.set_staging_marker(kStagingMarkerPath);
    (void)apply_actions(installer, txn, Verbosity::Changes);

    const PlannerFlags flags = settings.plannerFlags | kAdmitUpgrade;
    int status = upgrade_run(installer, txn, flags) ? 0 : 1;
    // An empty journal takes no space: a run with nothing to do succeeds on a full flash too.
    if ((flags & kAdmitSame) == 0 && !txn.is_empty() && !has_flash_space(txn)) {
        installer.error("not enough space for upgrade");
        txn.cancel();
        status = 28;
    }
    if (!txn.is_empty()) {
        mark_packages_changed(txn);
        if (settings.commitAtOnce) {
            if (!commit_run(installer, txn) && status == 0) status = 1;
        } else if (!txn.save_manifest(kManifestPath)) {
            installer.error("could not save manifest %s", kManifestPath);
            txn.cancel();
            status = 1;
        }
    }
    installer.finish();
    return status;
}
