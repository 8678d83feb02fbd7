#pragma once
// The "--commit" and "--cancel" modes: carrying out or dropping the manifest a "--safe" run left.

#include <cstdio>
#include <string>

inline constexpr const char* kManifestPath = "/ram/MANIFEST";

// Loads the manifest and commits it with the spinner between "finishing install... " and the
// line end, written to `out`. A manifest that fails to load (missing, malformed, cut short) is
// not committed at all. The manifest stays. Returns the exit status (0).
int run_commit_mode(const std::string& manifestPath, std::FILE* out);
// Loads the manifest, cancels it (a reloaded journal owns no temporary files, so no file but
// the manifest is deleted) and deletes the manifest. Returns the exit status (0).
int run_cancel_mode(const std::string& manifestPath);
