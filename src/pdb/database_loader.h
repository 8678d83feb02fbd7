#pragma once
// Loading the package database below /flash/var/pdb/ into InstalledPackage records: from a
// package's image when it keeps one, else from its small text files, then its state files and
// its schedule file.

#include "core/package.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

class FlashDevice;
class Installer;

enum class ListStatus { Ok, Missing, Malformed };

// Reads one relation list file ("deps", "provides" with priority, "conflicts"). Missing means
// the file could not be opened and reads as an empty list. Unless Ok or Missing, the entries
// read before the fault stay in `list`.
[[nodiscard]] ListStatus read_list(const std::string& path, std::vector<Dependency>& list,
                                   bool withPriority);

// Reads a "files" list into `files` as installed paths (see database_paths.h); lines that name
// nothing removable are left out. False when the file cannot be opened.
bool read_files(const std::string& path, FileList& files);

// The installed paths of the regular files for `flash`'s variant in the files chunk of the
// package image at `imagePath`, for an entry written before image packages kept their "files"
// list: each both below /flash and below /flash/x/<name>/, since the image does not say whether
// the package was installed disabled. Read without digest; empty when the image has no readable
// files chunk, and cut where its entries become unreadable.
std::set<std::string> image_file_paths(const std::string& imagePath, const std::string& name,
                                       FlashDevice& flash);

// Fills `record` (named after its database directory) from the package image at `imagePath`
// and appends it to installer.packages; a bundle image appends its members first. The image
// is read without digest, so unwanted payloads are passed over by seeking. Nothing is added
// when the image cannot be opened, its header part is broken, or it names the package (or the
// bundle) with a name that could not be a directory name; a member with such a name is left
// out alone.
void load_image(Installer& installer, std::unique_ptr<InstalledPackage> record,
                const std::string& imagePath);

// What load_state found beyond the fields it set.
enum class StateStatus {
    Ok,
    // The header files are missing or malformed: action 1, and it stays.
    Broken,
    // Action 1 only because the "bundle" file names a bundle that did not supply the record;
    // open withdraws it when a bundle record of that name was loaded.
    AwaitsBundle,
};

// Reads the record's database files below "/flash/var/pdb/" + name + "/": the header files
// when `version` is 0 (the record did not come from an image), the state files, and the
// schedule file unless the record is a placeholder.
StateStatus load_state(InstalledPackage& record);

// Sets the run's `quiet` and `arch`, then loads every directory below /flash/var/pdb/ whose
// name does not begin with "." into installer.packages: from its image (or its stored image in
// /rw/pckg/.images/) when it has one, else from its small files. A database directory that
// cannot be opened gives the warning "could not open repo" and no records.
void open_database(Installer& installer, bool quiet, const std::string& architecture);
