// Fuzz target: every package database reader on the same input (relation lists, "files",
// schedule, a database image and its file paths). Promises: "files" entries and image paths stay
// strictly below /flash ("files" entries map back to their line); an image adds no record whose
// name could not be a database directory.

#include "scratch.h"

#include "core/installer.h"
#include "flash/flash_device.h"
#include "pdb/database_loader.h"
#include "pdb/database_paths.h"
#include "pdb/schedule.h"
#include "support/scenario.h"

#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = write_scratch("entry", data, size);

    std::vector<Dependency> list;
    for (bool priority : {false, true}) (void)read_list(path, list, priority);

    FileList files;
    (void)read_files(path, files);
    for (const std::string& installed : files) {
        fuzz_check(installed.starts_with("/flash/") && installed.size() > 7,
                   "a files entry is not below /flash");
        fuzz_check(!has_parent_component(installed), "a files entry climbs out with ..");
        fuzz_check(installed_path(stored_entry(installed)) == installed,
                   "a files entry does not map back to itself");
    }

    (void)read_schedule(path);

    for (const std::string& installed : image_file_paths(path, "fuzz", real_flash_device()))
        fuzz_check(installed.starts_with("/flash/") && !has_parent_component(installed),
                   "a path taken from an image leaves /flash");

    static RecordingTerminal terminal;
    terminal.output.clear();
    Installer& installer = Installer::reset();
    installer.quiet = true;
    installer.terminal = &terminal;
    installer.flash = &real_flash_device();
    load_image(installer, std::make_unique<InstalledPackage>("fuzz"), path);
    for (const auto& record : installer.packages)
        fuzz_check(record->name == "fuzz" || is_safe_package_name(record->name),
                   "an image added a record with an unsafe name");
    return 0;
}
