#pragma once
// Reading the header part of a package file into a Package record: the package or bundle header,
// the optional header chunks in their fixed order, relation lists, and the directory scan.

#include "core/package.h"

#include <string>
#include <vector>

class PackageReader;

// With the reader standing on a package (1) or bundle (18) header chunk, fills `record` from it
// and from the optional header chunks that follow in their fixed order. Leaves the reader on the
// first chunk after the header part. False when the chunk is no header, the header payload is
// shorter than 32 bytes or a relation list is cut short. A text payload cut short, or a text
// chunk that the reader refuses as too long, still gives true; the reader then stays in its
// error state for the caller's next step, and a caller that stops after the header part asks
// text_too_long().
[[nodiscard]] bool read_package_header(Package& record, PackageReader& reader);

// With the reader on a single package's or a member's image, files or signature chunk, advances
// past them to the next chunk of any other type (a member's header, or what ends the file).
void pass_package_body(PackageReader& reader);

// With the reader at the start of a list payload, appends its entries to `list` in file order.
// False when the count or an entry is cut short (entries read before stay appended).
[[nodiscard]] bool read_dependency_list(PackageReader& reader, std::vector<Dependency>& list);

// Reads the header part of the package file at `path` into `file` (and, for a bundle, its
// members). False when the file cannot be read, is no package file, its declared length differs
// from its size on disk, its header is broken, or it is a bundle without members.
[[nodiscard]] bool scan_package_file(PackageFile& file, const std::string& path);
