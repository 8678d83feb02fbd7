// Unpacking one package into the run's Transaction. Every file is a temporary file that the
// commit moves into place; a package that fails here takes back what it queued, so that only
// the caller's own decisions (the removal of the version it replaces) stay pending.

#include "plan/unpack.h"

#include "core/installer.h"
#include "flash/flash_device.h"
#include "package/format.h"
#include "package/inflate_stream.h"
#include "package/package_reader.h"
#include "pdb/database_paths.h"
#include "pdb/entry_writer.h"
#include "plan/relations.h"
#include "txn/transaction.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t kCopyPiece = 16384;
constexpr std::uint64_t kImageStep = 4096;
constexpr const char* kSecureMarker = "/ram/SECURE";
constexpr const char* kUpgradedMarker = "/flash/UPGRADED";

bool is_boot(const Package& p) { return (p.flags & kFlagBoot) != 0; }

std::string progress_label(const InstalledPackage& pkg) {
    std::string label = "installing ";
    if (pkg.disabled && pkg.bundle.name.empty()) label += " (disabled) ";
    return label + display_name(pkg);
}

void show_progress(Installer& installer, PackageReader& reader, const std::string& label) {
    installer.draw_progress(label, reader.progress_position(), reader.total_length());
}

// An entry name that could leave /flash, name /flash (or a directory) as a file, or not be
// written as one line of the "files" list and the manifest.
bool is_hostile_entry_name(const std::string& name) {
    if (name.empty() || name.back() == '/') return true;
    if (name.find_first_not_of('/') == std::string::npos) return true;
    if (name.find('\n') != std::string::npos || name.find('\0') != std::string::npos) return true;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
        start = end + 1;
    }
    return false;
}

// Takes back what this package queued as new files: its unpacked files and the database files
// it wrote. Removals stay: they belong to the version being replaced, and the caller decides.
void withdraw_new_files(const InstalledPackage& pkg, Transaction& txn) {
    std::vector<std::string> dropped;
    for (const std::string& path : pkg.files) {
        const FileOp* op = txn.pending(path);
        if (op && op->op == FileOpKind::MoveTemp) dropped.push_back(path);
    }
    if (is_safe_package_name(pkg.name)) {
        const std::string dir = database_dir(pkg);
        for (auto it = txn.entries().lower_bound(dir);
             it != txn.entries().end() && it->first.compare(0, dir.size(), dir) == 0; ++it)
            if (it->second.op == FileOpKind::MoveTemp) dropped.push_back(it->first);
    }
    for (const std::string& path : dropped) {
        const FileOp* op = txn.pending(path);
        // drop_below on a file path drops that entry alone (and deletes its temporary file).
        if (op && op->op == FileOpKind::MoveTemp) txn.drop_below(path);
    }
}

// Copies `size` bytes of one entry from `z` to `out` through `piece` (kCopyPiece bytes, kept for
// the whole package rather than made and cleared per file); false with the message on failure.
bool copy_entry(Installer& installer, InflateStream& z, OutputFile& out, std::uint32_t size,
                const InstalledPackage& pkg, const std::string& entryName,
                std::vector<char>& piece) {
    std::uint32_t left = size;
    while (left > 0) {
        const std::size_t n = std::min<std::size_t>(kCopyPiece, left);
        if (z.read(piece.data(), n) != n) {
            report_broken(installer, pkg);
            return false;
        }
        out.write(piece.data(), n);
        if (!out) {
            report_create_failure(installer, display_name(pkg), entryName, out.error());
            return false;
        }
        left -= std::uint32_t(n);
    }
    return true;
}

// Steps 2-12 of the installation; the caller withdraws the new files when this fails.
bool install_chunks(Installer& installer, InstalledPackage& pkg, Transaction& txn,
                    PackageReader& reader, const std::string& label) {
    const bool packageMagic = !reader.is_alt_magic();
    if (packageMagic && !txn.take_back_remove(database_dir(pkg))) return false;

    if (reader.type() == kChunkImage) {
        std::uint64_t left = reader.chunk_length();
        while (left > 0 && reader) {
            show_progress(installer, reader, label);
            const std::uint64_t step = std::min(left, kImageStep);
            reader.skip(step);
            left -= step;
        }
        reader.next_chunk();
    }
    if (reader.type() == kChunkFiles) {
        if (!(installer.bootImage && is_boot(pkg)) && !unpack_files(installer, pkg, txn, reader))
            return false;
        reader.next_chunk();
    }

    const SignatureLevel level = required_level(pkg.name, pkg.version);
    if (reader.type() != kChunkSignature || reader.verify_signature() < level) {
        report_broken(installer, pkg);
        return false;
    }
    reader.next_chunk();

    if (pkg.bundle.name.empty()) {
        if (reader.type() == kChunkArch) reader.next_chunk();
        if (reader.type() == kChunkDepends && reader.chunk_length() == 0) reader.next_chunk();
        if (reader.type() != kNoChunk || reader.text_too_long()) {
            report_broken(installer, pkg);
            return false;
        }
    }

    if (packageMagic && !write_entry(installer, pkg, txn)) return false;

    if (is_boot(pkg) || pkg.name == "branding") {
        (void)create_file(txn, kUpgradedMarker, 1, 0).close();
    }
    if (!pkg.bundle.name.empty()) return true;
    installer.set_status("");
    installer.info("installed %s%s", pkg.disabled ? "(disabled) " : "",
                   package_label(pkg).c_str());
    return true;
}

}  // namespace

SignatureLevel required_level(const std::string& name, Version version) {
    // A plain stat: std::filesystem would map a part of the runtime library that nothing else in
    // the program needs, a measurable share of the peak memory of a run.
    struct stat st;
    if (::stat(kSecureMarker, &st) == 0) return SignatureLevel::EdDsa;
    if (name == "branding") return SignatureLevel::Legacy;
    if (version < 0x062e6609u) return SignatureLevel::Legacy;
    if (version < 0x062f0000u) return SignatureLevel::EdDsa;
    if (version < 0x06306601u) return SignatureLevel::Legacy;
    if (version < 0x07000000u) return SignatureLevel::EdDsa;
    if (version <= 0x07016203u) return SignatureLevel::Legacy;
    return SignatureLevel::EdDsa;
}

void report_broken(Installer& installer, const InstalledPackage& pkg) {
    installer.error("installation of %s failed: broken package", display_name(pkg).c_str());
}

bool install_package(Installer& installer, InstalledPackage& pkg, Transaction& txn,
                     PackageReader& reader) {
    const std::string label = progress_label(pkg);
    show_progress(installer, reader, label);
    // A name that cannot be a database directory or a word of its lists would load as broken
    // (and be uninstalled) at the next run, or put files outside the database.
    if (!has_storable_names(pkg) ||
        (!pkg.bundle.name.empty() && !is_storable_package_name(pkg.bundle.name))) {
        report_broken(installer, pkg);
        return false;
    }
    if (install_chunks(installer, pkg, txn, reader, label)) return true;
    withdraw_new_files(pkg, txn);
    return false;
}

bool unpack_files(Installer& installer, InstalledPackage& pkg, Transaction& txn,
                  PackageReader& reader) {
    const std::string label = progress_label(pkg);
    InflateStream z(reader.chunk_buf());
    const int variant = hardware_variant(*installer.flash);
    std::vector<char> piece(kCopyPiece);
    std::string base = std::string(kFlashRoot);
    if (pkg.disabled) base += "/x/" + pkg.name;

    for (;;) {
        if (!z) return true;
        std::uint8_t header[kFileEntryHeaderSize];
        if (z.read(reinterpret_cast<char*>(header), kFileEntryHeaderSize) != kFileEntryHeaderSize)
            return true;
        const std::uint16_t mode = load_u16(header);
        const std::uint8_t entryVariant = header[23];
        const std::uint32_t size = load_u32(header + 24);
        const std::uint16_t nameLength = load_u16(header + 28);
        std::string name(nameLength, '\0');
        if (z.read(name.data(), nameLength) != nameLength) {
            report_broken(installer, pkg);
            return false;
        }
        if ((mode & kModeTypeMask) != kModeRegular ||
            (entryVariant != 0 && entryVariant != variant)) {
            z.skip(size);
            continue;
        }
        if (is_hostile_entry_name(name)) {
            report_broken(installer, pkg);
            return false;
        }
        const std::string destination = base + (name.front() == '/' ? "" : "/") + name;
        // The whole mode, type bits included, so that an entry without permission bits is
        // still applied (and not left at the temporary file's own 0600).
        OutputFile out = create_file(txn, destination, size, mode);
        if (!out) {
            report_create_failure(installer, display_name(pkg), name, out.error());
            return false;
        }
        pkg.files.insert(destination);
        if (!copy_entry(installer, z, out, size, pkg, name, piece)) return false;
        if (!out.close()) {
            report_create_failure(installer, display_name(pkg), name, out.error());
            return false;
        }
        show_progress(installer, reader, label);
    }
}
