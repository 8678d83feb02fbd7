#pragma once
// Schedule files: requests left by the rest of the system below /ram/pdb/ to uninstall, enable
// or disable a package. The installer only reads them; it never writes or deletes one.

#include <string>

class InstalledPackage;

// "/ram/pdb/" + the name reduced to ASCII letters, digits and "-" + "/schedule". Names that
// differ only in other characters share one file.
std::string schedule_path(const std::string& packageName);

// What the first word of a schedule file asks for.
enum class ScheduleRequest { None, Uninstall, Enable, Disable };

// Reads the first whitespace-delimited word of the file at `path`; None when the file cannot be
// opened, holds no word, or the word is not exactly one of the three requests.
ScheduleRequest read_schedule(const std::string& path);

// Applies a request to a record: uninstall sets action 1; enable and disable set action 2 or 3
// and mark the state as the user's choice. None changes nothing.
void apply_schedule(InstalledPackage& record, ScheduleRequest request);
