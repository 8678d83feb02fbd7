// Fuzz target: reading a package file. The directory scan's header read on a file, then a full
// pass of the package stream with the digest on: headers, inflated files, signature check.
// Promise checked: the copy target receives exactly the bytes read, in order, once each.

#include "scratch.h"

#include "core/package.h"
#include "package/format.h"
#include "package/inflate_stream.h"
#include "package/memory_source.h"
#include "package/package_format.h"
#include "package/package_reader.h"

#include <string>

namespace {

template <typename Source>
void drain(Source& in) {
    for (char buffer[4096]; in.read(buffer, sizeof buffer) > 0;) continue;
}

void read_stream(const std::string& bytes) {
    MemorySource source(bytes);
    StringSink copy;
    PackageReader reader(source, true, &copy);
    for (std::uint32_t type : {kChunkPackageHeader, kChunkText2, kChunkDepends, kChunkFiles,
                               kChunkSignature, kChunkArch, kChunkConflicts, kChunkBundleHeader,
                               kChunkProvides, kChunkOptionalMembers, kChunkImage, kChunkNote,
                               kChunkText24, kChunkSha256Marker})
        reader.want(type);
    int type = reader.next_chunk();
    while (type >= 0) {
        if (type == kChunkPackageHeader || type == kChunkBundleHeader) {
            Package record;
            if (!read_package_header(record, reader)) break;
            type = reader.type();
            continue;
        }
        if (type == kChunkFiles) {
            InflateStream inflate(reader.chunk_buf());
            drain(inflate);
        } else if (type == kChunkSignature) {
            (void)reader.verify_signature();
        } else {
            drain(reader);
        }
        type = reader.next_chunk();
    }
    const std::string& copied = copy.text;
    fuzz_check(copied.size() <= bytes.size() && bytes.compare(0, copied.size(), copied) == 0,
               "the copy target is not a prefix of the input");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = write_scratch("input.npk", data, size);
    PackageFile file;
    file.filePath = path;
    (void)scan_package_file(file, path);
    read_stream(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
