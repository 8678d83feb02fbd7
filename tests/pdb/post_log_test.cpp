// The post-install log: taken over by reserve_log, written by finish.

#include "core/installer.h"
#include "pdb/root_child.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(PostLogTest, ReserveAndFinish) {
    struct Row { const char* what; const char* before; void (*body)(Installer&, std::string&);
                 const char* want; };
    const Row rows[] = {
        {"earlier lines come before this run's messages", "old one\nold two\ncut without line feed",
         [](Installer& in, std::string& out) {
             in.info("scheduled first");
             in.reserve_log();
             out = read_file("/flash/postlog") == std::string(4096, '\0') ? "zeros\n" : "?\n";
             in.warning("later");
             in.finish();
         },
         "zeros\nold one\nold two\nscheduled first\nWARNING: later\n"},
        {"reserved run without messages writes the lines back", "kept\n",
         [](Installer& in, std::string&) { in.reserve_log(), in.finish(); }, "kept\n"},
        {"unreserved run appends, a silent one leaves the log alone", "before\n",
         [](Installer& in, std::string& out) {
             in.finish();
             out = read_file("/flash/postlog");
             in.error("failed");
             in.finish();
         },
         "before\nbefore\nERROR: failed\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TempDir root;
        write_file(root / "flash/var/pdb/.keep", "");
        if (*r.before) write_file(root / "flash/postlog", r.before);
        EXPECT_EQ(run_in_root(root.path(),
                              [&] {
                                  std::string out;
                                  r.body(Installer::instance(), out);
                                  return out + read_file("/flash/postlog");
                              }),
                  r.want);
    }
}

}  // namespace
