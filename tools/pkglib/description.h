#pragma once
// A package description: the plain text from which pkgtool and the tests build a package file
// or bundle (format in docs/package-description.md). Parsing checks everything it can, so that
// building only fails on the file system or the signer.

#include "core/package.h"
#include "pkglib/package_writer.h"
#include "pkglib/signing_kind.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct PackageDescription {
    std::string name;
    Version version = 0;
    std::uint32_t buildTime = 0;  // fixed by default, so builds are reproducible
    bool hasBuildTime = false;    // a "build-time" line was given
    std::uint32_t flags = 0;
    bool writeFlags = true;       // false: a 32-byte header without the flags word
    bool hasArch = false;         // absent: no architecture chunk (the installer reads "i386")
    std::string arch;
    bool hasNote = false;
    std::string note;
    bool hasText24 = false;
    std::string text24;
    bool hasText2 = false;
    std::string text2;
    std::vector<Dependency> depends;
    std::vector<Dependency> provides;
    std::vector<Dependency> conflicts;

    // Files: a directory tree walked at build time, plus entries given directly (tests).
    // Without either, the package has no files chunk unless `emptyFiles` asks for one.
    std::string filesDir;
    std::size_t filesLine = 0;  // the "files" line, for messages about the tree
    // Build what the installer installs: the tree's regular files only (links and directories
    // are left out with a warning each), and entry names it accepts. pkgtool sets it; tests
    // leave it clear to build the packages an attacker could.
    bool installable = false;
    std::map<std::string, std::uint8_t> variants;  // tree path -> hardware variant
    std::vector<FileEntry> files;  // mode with type bits; a link's data is its target
    bool emptyFiles = false;
    int level = 6;  // zlib level of the files chunk (0..9, or -1 for zlib's default)

    bool hasImage = false;
    std::string image;  // image chunk payload (uninterpreted by the installer)

    bool sha256 = false;    // SHA-256 marker chunk before the header
    bool altMagic = false;  // alternate file magic (top level only)
    SignatureKind signature = SignatureKind::LegacyAndEddsa;
    // Chunks after the signature of a single package, which the installer tolerates.
    bool hasTrailerArch = false;
    std::string trailerArch;
    bool trailerEmptyDepends = false;

    bool isBundle = false;
    std::vector<PackageDescription> members;
    std::vector<Dependency> optionalMembers;  // the optional-members chunk; only names count
};

// A package with the fields of `header`, a SHA-256 marker and a files chunk even without files:
// the recipe tests and fuzz seeds start from.
PackageDescription describe_package(const HeaderInfo& header);
// A bundle (SHA-256 marker, the fields of `header`) of `members`, which share its marker: their
// own are cleared.
PackageDescription describe_bundle(const HeaderInfo& header,
                                   std::vector<PackageDescription> members,
                                   std::vector<Dependency> optionalMembers = {});

// Reads description text. Relative paths (files, member) are taken from `baseDir`; member
// descriptions are loaded at once. False with a message "line N: ..." (or the member file's own
// message) on the first fault.
[[nodiscard]] bool parse_description(std::string_view text, const std::string& baseDir,
                                     PackageDescription& out, std::string& err);
// Reads a description file; relative paths in it are taken from the file's directory.
// With `installable`, names the installer would refuse (package, member, relation and file
// entry names) fail the parse, and the description and its members are marked `installable`.
[[nodiscard]] bool load_description(const std::string& path, PackageDescription& out,
                                    std::string& err, bool installable = false);

// Why the installer refuses `name` as a file entry name, or null when it accepts it.
const char* refused_entry_name(const std::string& name);

// Collects the files chunk entries: the tree below `filesDir` in byte-wise path order (every
// directory, regular file and symbolic link, with its mode from the tree; only regular files
// when `installable`, each left-out entry adding a line to `warnings`) followed by `files`.
[[nodiscard]] bool collect_file_entries(const PackageDescription& desc,
                                        std::vector<FileEntry>& out, std::string& err,
                                        std::vector<std::string>* warnings = nullptr);

// Builds the whole package file (single package or bundle). A package whose signature kind is
// None gets no signature chunk. False with a message on failure.
[[nodiscard]] bool build_package_file(const PackageDescription& desc, const DigestSigner& sign,
                                      std::string& out, std::string& err,
                                      std::vector<std::string>* warnings = nullptr);

// Appends one described package or bundle to `writer`, from its SHA-256 marker (when `sha256`)
// through the signature, so that tests can put chunks around it. False with a message.
[[nodiscard]] bool append_package(PackageWriter& writer, const PackageDescription& desc,
                                  const DigestSigner& sign, std::string& err,
                                  std::vector<std::string>* warnings = nullptr);

// Reads a whole file into `out`; false when it cannot be opened or read.
[[nodiscard]] bool read_whole_file(const std::string& path, std::string& out);
