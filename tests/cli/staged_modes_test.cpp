// The "--commit" and "--cancel" modes over a manifest in a scratch directory.

#include "cli/staged_modes.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

std::string commit_output(const std::string& manifest) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    EXPECT_EQ(run_commit_mode(manifest, out, stderr), 0);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(StagedModesTest, CommitCarriesOutAWholeManifestAndKeepsIt) {
    TempDir dir;
    write_file(dir / "stage", "new");
    write_file(dir / "old", "old");
    const std::string manifest = dir / "MANIFEST";
    write_file(manifest,
               "M " + dir / "pkg/file" + " " + dir / "stage" + "\nU " + dir / "old" + "\n");
    EXPECT_EQ(commit_output(manifest), "finishing install... \b \n");
    EXPECT_EQ(read_file(dir / "pkg/file"), "new");
    EXPECT_FALSE(path_exists(dir / "old"));
    EXPECT_TRUE(path_exists(manifest));
}

TEST(StagedModesTest, CancelKeepsAMoveSourceItDidNotStage) {
    TempDir dir;
    write_file(dir / "stage", "new");
    const std::string manifest = dir / "MANIFEST";
    write_file(manifest, "M " + dir / "dest" + " " + dir / "stage" + "\n");
    EXPECT_EQ(run_cancel_mode(manifest), 0);
    EXPECT_FALSE(path_exists(manifest));
    EXPECT_TRUE(path_exists(dir / "stage"));
    EXPECT_FALSE(path_exists(dir / "dest"));
}

}  // namespace
