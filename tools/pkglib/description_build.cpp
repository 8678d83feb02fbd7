// Building a package file from a description: the walk of the files tree and the chunks in
// the order the installer expects (header part, image, files, signature; a bundle's members
// each signed over their own chunks).
#include "pkglib/description.h"

#include "package/format.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct TreeWalk {
    bool regularOnly;                     // leave out links and directories (with a warning)
    std::size_t line;                     // the description's "files" line
    std::vector<std::string>* warnings;   // may be null
};

void warn(const TreeWalk& how, std::string text) {
    if (how.warnings) how.warnings->push_back(std::move(text));
}

// Appends the entries below `dir` (named `prefix` + entry name) in byte-wise order, each
// directory followed by its contents, so that two builds of one tree give equal bytes.
bool walk_tree(const std::string& dir, const std::string& prefix, const TreeWalk& how,
               std::vector<FileEntry>& out, std::string& err) {
    std::error_code ec;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end;
         it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    if (ec) {
        err = dir + ": " + ec.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        std::string path = dir + "/" + n;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            err = path + ": " + std::strerror(errno);
            return false;
        }
        FileEntry entry;
        entry.name = prefix + n;
        entry.mode = std::uint16_t(st.st_mode & 0xffff);
        const char* why = how.regularOnly ? refused_entry_name(entry.name) : nullptr;
        if (why != nullptr) {
            err = "line " + std::to_string(how.line) + ": " + path +
                  ": the installer refuses this file name: " + why;
            return false;
        }
        if (how.regularOnly && S_ISLNK(st.st_mode)) {
            warn(how, path + ": symbolic link left out (the installer installs regular files "
                             "only)");
            continue;
        }
        if (how.regularOnly && S_ISDIR(st.st_mode)) {
            // The installer makes the directories its files need; an empty one is lost (one
            // warning for the innermost).
            const std::size_t before = out.size();
            const std::size_t warned = how.warnings ? how.warnings->size() : 0;
            if (!walk_tree(path, prefix + n + "/", how, out, err)) return false;
            if (out.size() == before && (!how.warnings || how.warnings->size() == warned))
                warn(how, path + ": directory without files left out (the installer installs "
                               "regular files only)");
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            if (!read_whole_file(path, entry.data)) {
                err = path + ": cannot read";
                return false;
            }
            out.push_back(std::move(entry));
        } else if (S_ISLNK(st.st_mode)) {
            std::filesystem::path target = std::filesystem::read_symlink(path, ec);
            if (ec) {
                err = path + ": " + ec.message();
                return false;
            }
            entry.data = target.string();
            out.push_back(std::move(entry));
        } else if (S_ISDIR(st.st_mode)) {
            out.push_back(std::move(entry));
            if (!walk_tree(path, prefix + n + "/", how, out, err)) return false;
        } else {
            err = path + ": only regular files, directories and symbolic links can be packed";
            return false;
        }
    }
    return true;
}

}  // namespace

bool collect_file_entries(const PackageDescription& desc, std::vector<FileEntry>& out,
                          std::string& err, std::vector<std::string>* warnings) {
    out.clear();
    if (!desc.filesDir.empty()) {
        struct stat st;
        if (stat(desc.filesDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            err = desc.filesDir + ": not a directory";
            return false;
        }
        const TreeWalk how{desc.installable, desc.filesLine, warnings};
        if (!walk_tree(desc.filesDir, "", how, out, err)) return false;
    }
    for (const auto& [path, variant] : desc.variants) {
        auto it = std::find_if(out.begin(), out.end(),
                               [&path = path](const FileEntry& f) { return f.name == path; });
        if (it == out.end()) {
            err = "variant names " + path + ", which is not in " + desc.filesDir;
            return false;
        }
        it->hardwareVariant = variant;
    }
    out.insert(out.end(), desc.files.begin(), desc.files.end());
    // The entry header holds a 16-bit name length and a 32-bit size; never write a cut entry.
    for (const FileEntry& f : out) {
        if (f.name.size() > 0xffff || f.data.size() > 0xffffffffu) {
            err = f.name.substr(0, 64) + ": name or content too long for a file entry";
            return false;
        }
    }
    return true;
}

namespace {

HeaderInfo header_of(const PackageDescription& d) {
    HeaderInfo h;
    h.name = d.name;
    h.version = d.version;
    h.buildTime = d.buildTime;
    if (d.writeFlags) h.flags = d.flags;
    return h;
}

}  // namespace

bool append_package(PackageWriter& w, const PackageDescription& d, const DigestSigner& sign,
                    std::string& err, std::vector<std::string>* warnings) {
    if (d.sha256) w.sha256_marker();
    if (d.isBundle) {
        w.bundle_header(header_of(d));
    } else {
        w.package_header(header_of(d));
    }
    // The installer takes the optional header chunks only in this order.
    if (d.hasText24) w.text(kChunkText24, d.text24);
    if (d.hasArch) w.arch(d.arch);
    if (d.hasText2) w.text(kChunkText2, d.text2);
    if (d.hasNote) w.note(d.note);
    if (!d.depends.empty()) w.depends(d.depends);
    if (!d.provides.empty()) w.provides(d.provides);
    if (!d.conflicts.empty()) w.conflicts(d.conflicts);
    if (d.hasImage) w.image(d.image);

    if (d.isBundle) {
        if (!d.optionalMembers.empty()) w.optional_members(d.optionalMembers);
        for (const PackageDescription& member : d.members) {
            if (!append_package(w, member, sign, err, warnings)) {
                err = member.name + ": " + err;
                return false;
            }
        }
        if (d.hasTrailerArch) w.arch(d.trailerArch);
        return true;
    }

    std::vector<FileEntry> files;
    if (!collect_file_entries(d, files, err, warnings)) return false;
    if (!files.empty() || d.emptyFiles) w.files(files, d.level);
    if (d.signature != SignatureKind::None) {
        bool signedOk = true;
        const SignatureKind kind = d.signature;
        w.signature(
            [&](const std::uint8_t digest[32]) {
                std::string payload = sign ? sign(digest, kind) : std::string();
                if (payload.empty()) signedOk = false;
                return payload;
            },
            kind == SignatureKind::Legacy ? std::uint32_t(kLegacySignatureSize)
                                          : std::uint32_t(kFullSignatureSize));
        if (!signedOk) {
            err = "cannot sign " + d.name + " (no usable key for this signature kind)";
            return false;
        }
    }
    if (d.hasTrailerArch) w.arch(d.trailerArch);
    if (d.trailerEmptyDepends) w.chunk(kChunkDepends, std::string());
    return true;
}

PackageDescription describe_package(const HeaderInfo& header) {
    PackageDescription d;
    d.name = header.name, d.version = header.version, d.buildTime = header.buildTime;
    d.writeFlags = header.flags.has_value(), d.flags = header.flags.value_or(0);
    d.sha256 = d.emptyFiles = true;
    return d;
}

PackageDescription describe_bundle(const HeaderInfo& header,
                                   std::vector<PackageDescription> members,
                                   std::vector<Dependency> optionalMembers) {
    PackageDescription b = describe_package(header);
    b.isBundle = true;
    for (PackageDescription& m : members) m.sha256 = false;
    b.members = std::move(members);
    b.optionalMembers = std::move(optionalMembers);
    return b;
}

bool build_package_file(const PackageDescription& desc, const DigestSigner& sign,
                        std::string& out, std::string& err, std::vector<std::string>* warnings) {
    PackageWriter w(desc.altMagic ? kAltPackageMagic : kPackageMagic);
    if (!append_package(w, desc, sign, err, warnings)) return false;
    out = w.finish();
    return true;
}
