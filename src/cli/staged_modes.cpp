// The modes that finish a staged "--safe" run. Their console text goes straight to standard
// output: "-q" does not silence it and it is not kept for the post-install log.

#include "cli/staged_modes.h"

#include "txn/transaction.h"

#include <unistd.h>

int run_commit_mode(const std::string& manifestPath, std::FILE* out) {
    Transaction txn;
    // A manifest whose load failed may stop at a cut line; obeying the part read could delete
    // or replace the wrong files, so nothing of it is carried out.
    bool loaded = txn.load_manifest(manifestPath);
    std::fputs("finishing install... ", out);
    std::fflush(out);
    if (loaded) txn.commit(true);
    std::fputs("\b \n", out);
    std::fflush(out);
    return 0;
}

int run_cancel_mode(const std::string& manifestPath) {
    Transaction txn;
    (void)txn.load_manifest(manifestPath);
    txn.cancel();
    ::unlink(manifestPath.c_str());
    return 0;
}
