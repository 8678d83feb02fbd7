// Seed packages and database texts for the fuzz targets (see seed_packages.h).

#include "seed_packages.h"

#include "package/format.h"
#include "support/recipes.h"
#include "support/version.h"

#include <vector>

namespace {

PackageDescription recipe(const std::string& name, Version version, std::vector<FileEntry> files) {
    PackageDescription s = describe_package({name, version, 0x5f000000u, 0});
    s.files = std::move(files);
    return s;
}

PackageDescription system_spec(Version version) {
    return recipe("system", version,  // a directory, an executable, a plain file, a link
                  {{0x41ed, 0, "bin", ""}, {0x81ed, 0, "bin/sh", "#!/bin/sh\necho router\n"},
                   {0x81a4, 0, "etc/version", "7\n"}, {0xa1ff, 0, "bin/ash", "sh"}});
}

PackageDescription routing_spec(Version version) {
    PackageDescription s = recipe("routing", version,
                                  {{0x81a4, 0, "lib/routing/ospf.so", std::string(300, 'o')},
                                   {0x81a4, 3, "lib/routing/bgp.so", "bgp for variant 3"}});
    s.hasArch = s.hasNote = true;
    s.arch = "i386", s.note = "routing protocols";
    s.depends = {{"system", version, version, 0}};
    s.provides = {{"ospf", 0, 0, 10}};
    s.conflicts = {{"oldroute", 0, ver(9, 0), 0}};
    return s;
}

PackageDescription wireless_spec(Version version) {
    PackageDescription s =
        recipe("wireless", version, {{0x81a4, 0, "lib/wl/fw.bin", "\x01\x02\x03"}});
    s.depends = {{"system", ver(7, 0), 0, 0}};
    return s;
}

std::string signed_with(const DigestSigner& signer, const PackageDescription& s) {
    std::string err;
    return build_recipe(s, signer, err);
}

}  // namespace

std::map<std::string, std::string> seed_packages(const DigestSigner& full) {
    std::map<std::string, std::string> seeds;

    seeds["system.npk"] = signed_with(full, system_spec(ver(7, 15)));
    seeds["routing.npk"] = signed_with(full, routing_spec(ver(7, 15)));
    seeds["routing-older.npk"] = signed_with(full, routing_spec(ver(7, 5)));

    // Old enough that the legacy signature suffices (with downgrades allowed it installs).
    PackageDescription sha1 = wireless_spec(ver(6, 40));
    sha1.sha256 = false, sha1.signature = SignatureKind::Legacy;
    seeds["wireless-sha1-legacy.npk"] = signed_with(full, sha1);

    PackageDescription imaged = recipe("container", ver(7, 15), {{0x81a4, 0, "lib/ct", "ct"}});
    imaged.hasImage = true, imaged.image = "image payload, kept as the database image";
    imaged.level = 0;
    seeds["container-image.npk"] = signed_with(full, imaged);

    seeds["empty-files.npk"] = signed_with(full, recipe("extra", ver(7, 15, 'b', 2), {}));

    PackageDescription alt = wireless_spec(ver(7, 16));
    alt.altMagic = true;
    seeds["wireless-alt-magic.dpk"] = signed_with(full, alt);

    seeds["tarnvel-bundle.npk"] = signed_with(
        full, describe_bundle({"tarnvel", ver(7, 15), 0x5f000000u, 0},
                              {system_spec(ver(7, 15)), routing_spec(ver(7, 15)),
                               wireless_spec(ver(7, 15))},
                              {{"wireless", 0, 0, 0}}));

    PackageWriter unsigned_pkg;
    unsigned_pkg.sha256_marker().package_header({"ups", ver(7, 15), 1, 0}).files(
        {{0x81a4, 0, "etc/ups", "ups"}});
    seeds["unsigned.npk"] = unsigned_pkg.finish();

    seeds["traversal.npk"] =
        signed_with(full, recipe("evil", ver(7, 15), {{0x81a4, 0, "../../etc/passwd", "x"}}));
    return seeds;
}

std::map<std::string, std::string> installed_packages(const DigestSigner& full) {
    std::map<std::string, std::string> packages;
    packages["1-tarnvel.npk"] =
        signed_with(full, describe_bundle({"tarnvel", ver(7, 10), 0x5e000000u, 0},
                                          {system_spec(ver(7, 10)), routing_spec(ver(7, 10))}));
    packages["2-wireless.npk"] = signed_with(full, wireless_spec(ver(7, 10)));
    return packages;
}

std::map<std::string, std::string> seed_manifests() {
    return {
        {"staged.txt",
         "U /flash/var/pdb/old\n"
         "L /flash/bin/ash sh\n"
         "M /flash/bin/sh /flash/bin/tmpA1b2C3\n"
         "M /flash/var/pdb/system/version /ram/tmpZz9yY8\n"},
        {"source-with-space.txt", "M /flash/a /ram/with space\nU /flash/b\n"},
        {"empty.txt", ""},
        {"cut-short.txt", "U /flash/var/pdb/x\nU /flash/"},
    };
}

std::map<std::string, std::string> seed_database_files() {
    return {
        {"deps.txt", "system 117833216 117833216\nrouting 0 0\n"},
        {"provides.txt", "ospf 0 0 10\nbgp 1 2 -3\n"},
        {"files.txt", "bin/sh\n/etc/version\n//lib/routing/ospf.so\n\n/\na/../b\n"},
        {"schedule-uninstall.txt", "uninstall\n"},
        {"schedule-enable.txt", "  enable  extra words\n"},
        {"schedule-disable.txt", "disable"},
        {"version.txt", "117833216 1593835520\n"},
    };
}
