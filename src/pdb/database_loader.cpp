// Loading the package database into the Installer. Loading never stops the run: what cannot be
// read is treated as absent, and broken database files schedule the package's removal instead of
// failing.

#include "pdb/database_loader.h"

#include "core/input_file.h"
#include "core/installer.h"
#include "flash/flash_device.h"
#include "package/format.h"
#include "package/inflate_stream.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "pdb/database_paths.h"
#include "pdb/schedule.h"
#include "pdb/text_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

// The chunk types a database image is read for, in order of preference. Neither the
// architecture nor the image chunk is asked for, so those payloads are passed over. The files
// and signature chunks only end a header part: the chunks after a signature (a trailing
// architecture, an empty depends chunk) must never be read as header fields.
constexpr std::uint32_t kImageWantedTypes[] = {kChunkBundleHeader, kChunkPackageHeader,
                                               kChunkText24,       kChunkNote,
                                               kChunkDepends,      kChunkProvides,
                                               kChunkConflicts,    kChunkFiles,
                                               kChunkSignature};

bool file_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The names of the package database directories, in directory order. Entries starting with
// "." are not packages; neither is anything but a real directory: a stray file (a temporary
// file, the stream mode's image copy) would load as a package whose removal path ends in "/",
// and the removal of a symbolic link's directory would reach outside the database.
bool list_package_dirs(std::vector<std::string>& names) {
    const std::string base(kDatabaseDir);
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isDir = ::lstat((base + entry->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDir) names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return true;
}

}  // namespace

ListStatus read_list(const std::string& path, std::vector<Dependency>& list, bool withPriority) {
    TextFile in(path);
    if (!in) return ListStatus::Missing;
    for (;;) {
        Dependency entry;
        if (!in.word(entry.name)) return ListStatus::Ok;
        if (!in.number(entry.min) || !in.number(entry.max)) return ListStatus::Malformed;
        if (withPriority && !in.number(entry.priority)) return ListStatus::Malformed;
        list.push_back(std::move(entry));
    }
}

bool read_files(const std::string& path, FileList& files) {
    TextFile in(path);
    if (!in) return false;
    std::string line;
    while (in.line(line)) {
        std::string installed = installed_path(line);
        if (!installed.empty()) files.insert(std::move(installed));
    }
    return true;
}

std::set<std::string> image_file_paths(const std::string& imagePath, const std::string& name,
                                       FlashDevice& flash) {
    std::set<std::string> paths;
    InputFile file = InputFile::open(imagePath);
    if (!file.is_open()) return paths;
    PackageReader reader(file, false, nullptr);
    reader.want(kChunkFiles);
    if (reader.next_chunk() != kChunkFiles) return paths;
    InflateStream z(reader.chunk_buf());
    const int variant = hardware_variant(flash);
    for (;;) {
        std::uint8_t header[kFileEntryHeaderSize];
        if (z.read(reinterpret_cast<char*>(header), kFileEntryHeaderSize) != kFileEntryHeaderSize)
            break;
        const std::uint16_t mode = load_u16(header);
        const std::uint8_t entryVariant = header[23];
        const std::uint32_t size = load_u32(header + 24);
        std::string entry(load_u16(header + 28), '\0');
        if (z.read(entry.data(), entry.size()) != entry.size()) break;
        z.skip(size);
        // Installation passed over these entries, as it does here.
        if ((mode & kModeTypeMask) != kModeRegular ||
            (entryVariant != 0 && entryVariant != variant))
            continue;
        const std::size_t first = entry.find_first_not_of('/');
        if (first == std::string::npos) continue;
        const std::string relative = entry.substr(first);
        for (const std::string& line : {relative, "x/" + name + "/" + relative}) {
            std::string path = installed_path(line);
            if (!path.empty()) paths.insert(std::move(path));
        }
    }
    return paths;
}

void load_image(Installer& installer, std::unique_ptr<InstalledPackage> record,
                const std::string& imagePath) {
    InputFile file = InputFile::open(imagePath);
    if (!file.is_open()) return;
    PackageReader reader(file, false, nullptr);
    for (std::uint32_t type : kImageWantedTypes) reader.want(type);

    // Members are held back until the whole image has been read, so that a broken image adds
    // nothing at all rather than a bundle's first half.
    std::vector<std::unique_ptr<InstalledPackage>> members;
    const int first = reader.next_chunk();
    if (first == kChunkBundleHeader) {
        if (!read_package_header(*record, reader)) return;
        if (!is_safe_package_name(record->name)) return;
        const Dependency link{record->name, record->version, record->version, 0};
        while (reader.type() == kChunkPackageHeader) {
            auto member = std::make_unique<InstalledPackage>();
            if (!read_package_header(*member, reader)) return;
            member->bundle = link;
            if (is_safe_package_name(member->name)) members.push_back(std::move(member));
            pass_package_body(reader);
        }
    } else if (first == kChunkPackageHeader) {
        if (!read_package_header(*record, reader)) return;
        if (!is_safe_package_name(record->name)) return;
    }
    // A text chunk too long to read makes the image broken, as it made the package.
    if (reader.text_too_long()) return;
    // Any other first chunk: the record keeps its directory name and version 0, and
    // load_state reads its small database files.
    for (auto& member : members) installer.packages.push_back(std::move(member));
    installer.packages.push_back(std::move(record));
}

StateStatus load_state(InstalledPackage& record) {
    const std::string dir = std::string(kDatabaseDir) + record.name + "/";
    bool broken = false;
    bool bundleLink = false;
    if (record.version == 0) {
        TextFile version(dir + "version");
        if (!version || !version.number(record.version) || !version.number(record.buildTime))
            broken = true;
        if (read_list(dir + "deps", record.depends, false) == ListStatus::Malformed) broken = true;
        if (read_list(dir + "provides", record.provides, true) == ListStatus::Malformed)
            broken = true;
        if (read_list(dir + "conflicts", record.conflicts, false) == ListStatus::Malformed)
            broken = true;
        TextFile bundle(dir + "bundle");
        std::string bundleName;
        if (bundle.word(bundleName)) {
            record.bundle = Dependency{bundleName, 0, 0, 0};
            bundleLink = true;
        }
        record.isBundle = !file_exists(dir + "files");
        if (broken || bundleLink) record.action = kActionUninstall;
    }
    // Every record but a bundle keeps its file list here, also one described by an image (a
    // package or a bundle member), so that its removal reaches what it installed.
    if (!record.isBundle) read_files(dir + "files", record.files);

    record.userForced = false;
    TextFile disabled(dir + "disabled");
    if (disabled.is_open()) {
        record.disabled = true;
        std::string firstLine;
        (void)disabled.line(firstLine);
        record.userForced = firstLine != "auto";
    } else {
        record.disabled = false;
        if (TextFile(dir + "enabled").is_open()) record.userForced = true;
    }

    if (record.is_placeholder()) return broken ? StateStatus::Broken : StateStatus::Ok;
    const ScheduleRequest request = read_schedule(schedule_path(record.name));
    apply_schedule(record, request);
    if (broken) return StateStatus::Broken;
    if (bundleLink && request == ScheduleRequest::None) return StateStatus::AwaitsBundle;
    return StateStatus::Ok;
}

void open_database(Installer& installer, bool quiet, const std::string& architecture) {
    installer.quiet = quiet;
    installer.arch = architecture;
    auto& packages = installer.packages;
    std::vector<std::string> dirs;
    if (!list_package_dirs(dirs)) {
        installer.warning("could not open repo");
        return;
    }
    for (const std::string& name : dirs)
        load_image(installer, std::make_unique<InstalledPackage>(name),
                   std::string(kDatabaseDir) + name + "/image");
    for (const std::string& name : dirs) {
        const std::string stored = std::string(kImagesDir) + name;
        if (file_exists(stored))
            load_image(installer, std::make_unique<InstalledPackage>(name), stored);
    }

    // Bundles whose image names their members: a member it left out was dropped by that
    // version of the bundle.
    std::set<std::string> imageBundles;
    for (const auto& record : packages)
        if (record->isBundle && record->version != 0) imageBundles.insert(record->name);

    std::vector<InstalledPackage*> awaiting;
    auto load = [&](InstalledPackage& record) {
        if (load_state(record) == StateStatus::AwaitsBundle) awaiting.push_back(&record);
    };
    // Looked up by name, not by searching `packages` per directory: the load stays linear in
    // the size of the database. The names live in the records, which are not renamed here.
    std::unordered_set<std::string_view> loaded;
    const std::size_t fromImages = packages.size();
    for (std::size_t i = 0; i < fromImages; ++i) {
        load(*packages[i]);
        loaded.insert(packages[i]->name);
    }
    for (const std::string& name : dirs) {
        if (loaded.count(name) != 0) continue;
        packages.push_back(std::make_unique<InstalledPackage>(name));
        load(*packages.back());
        loaded.insert(packages.back()->name);
    }

    // A member loaded from its own files, whose "bundle" file names its bundle, is removed only
    // when that bundle's image no longer holds it. A bundle stored without an image cannot say
    // which members it has, and a bundle that is no longer installed (it was disabled, and its
    // record went while the members stayed, disabled) leaves its members installed.
    if (awaiting.empty()) return;
    std::unordered_map<std::string_view, bool> isBundle;  // the first record of each name
    for (const auto& other : packages) isBundle.emplace(other->name, other->isBundle);
    for (InstalledPackage* member : awaiting) {
        if (imageBundles.count(member->bundle.name) != 0) continue;
        const auto it = isBundle.find(member->bundle.name);
        if (it == isBundle.end() || it->second) member->action = kActionNone;
    }
}
