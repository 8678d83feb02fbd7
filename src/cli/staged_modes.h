#pragma once
// The "--commit" and "--cancel" modes: carrying out or dropping the manifest a "--safe" run left.

#include <cstdio>
#include <string>

inline constexpr const char* kManifestPath = "/ram/MANIFEST";

// Loads the manifest and commits it with the spinner between "finishing install... " and the
// line end, written to `out`. A manifest that fails to load (unreadable, malformed, cut short)
// is not committed at all: "could not load manifest <path>: line N" goes to `err` instead.
// The manifest stays. Returns the exit status: 0 when there was nothing staged or every
// operation succeeded, 1 otherwise.
int run_commit_mode(const std::string& manifestPath, std::FILE* out, std::FILE* err);
// Drops a staged run: deletes the temporary files its moves would have placed (never a file
// the installer did not make for it) and the manifest. Returns the exit status (0).
int run_cancel_mode(const std::string& manifestPath);
// The same for a "--safe" run that finds an earlier staged run: true when there was one.
bool cancel_staged_run(const std::string& manifestPath);
