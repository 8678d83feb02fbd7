// Fuzz target: the staged manifest. Loads the input as a manifest, saves what was loaded and
// loads that again. Promise checked: a manifest that was saved reads back complete and equal.
// The journals are never committed or cancelled, so no path named by the input is touched.

#include "scratch.h"

#include "txn/transaction.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = write_scratch("MANIFEST", data, size);
    Transaction first;
    (void)first.load_manifest(path);
    const std::string savedPath = scratch_dir() + "/MANIFEST.saved";
    if (!first.save_manifest(savedPath)) return 0;

    Transaction second;
    fuzz_check(second.load_manifest(savedPath) == ManifestLoad::Loaded,
               "a saved manifest does not load");
    fuzz_check(second.size() == first.size(), "a saved manifest loads another number of entries");
    auto a = first.entries().begin();
    for (const auto& [target, op] : second.entries()) {
        const auto [path, was] = *a;  // entries are copies made on reading
        fuzz_check(target == path && op.path == was.path && op.op == was.op &&
                       op.source == was.source,
                   "a saved manifest loads other entries");
        ++a;
    }
    return 0;
}
