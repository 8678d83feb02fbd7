// The modes that finish a staged "--safe" run. Their console text goes straight to standard
// output: "-q" does not silence it and it is not kept for the post-install log.

#include "cli/staged_modes.h"

#include "cli/run_guard.h"
#include "core/installer.h"
#include "txn/journal.h"
#include "txn/transaction.h"

int run_commit_mode(const std::string& manifestPath, std::FILE* out, std::FILE* err) {
    Transaction txn;
    std::size_t refusedLine = 0;
    // A manifest whose load failed may stop at a cut line; obeying the part read could delete
    // or replace the wrong files, so nothing of it is carried out.
    const ManifestLoad load = txn.load_manifest(manifestPath, &refusedLine);
    if (load == ManifestLoad::Refused) {
        std::fprintf(err, "could not load manifest %s: line %zu\n", manifestPath.c_str(),
                     refusedLine);
        std::fflush(err);
        return 1;
    }
    // The spinner turns while a large file is copied across file systems.
    Installer& installer = Installer::instance();
    warn_before_commit(installer, txn);
    std::fputs("finishing install... ", out);
    std::fflush(out);
    const bool ok =
        commit_journaled(txn, kJournalPath, [&installer] { installer.spin_step(); });
    std::fputs("\b \n", out);
    std::fflush(out);
    return ok ? 0 : 1;
}

bool cancel_staged_run(const std::string& manifestPath) {
    Transaction txn;
    // Even a manifest refused part-way names temporary files in the lines before the fault.
    if (txn.load_manifest(manifestPath) == ManifestLoad::Missing) return false;
    txn.cancel_staged();
    txn.file_system().remove_file(manifestPath);
    return true;
}

int run_cancel_mode(const std::string& manifestPath) {
    (void)cancel_staged_run(manifestPath);
    return 0;
}
