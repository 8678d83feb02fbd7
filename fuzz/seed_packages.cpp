// Seed packages and database texts for the fuzz targets (see seed_packages.h), from package
// descriptions in the text form pkgtool reads.

#include "seed_packages.h"

#include "support/recipes.h"
#include "support/version.h"

#include <cstdio>
#include <cstdlib>

namespace {

// `text` with the version and the common build time; aborts when it does not parse.
PackageDescription described(const std::string& text, const std::string& version) {
    PackageDescription d;
    std::string err;
    const std::string full = text + "\nversion " + version + "\nbuild-time 0x5f000000\n";
    if (!parse_description(full, "/", d, err))
        std::fprintf(stderr, "seed: %s\n", err.c_str()), std::abort();
    return d;
}

// A directory, an executable, a plain file, a link.
PackageDescription system_spec(const std::string& version) {
    return described("name system\nsha256\nfile bin 040755\nfile bin/sh 0755 #!/bin/sh\\necho "
                     "router\\n\nfile etc/version 0644 7\\n\nfile bin/ash 0120777 sh", version);
}

PackageDescription routing_spec(const std::string& version) {
    PackageDescription d = described(
        "name routing\nsha256\narch i386\nnote routing protocols\ndepends system " + version +
            " " + version + "\nprovides ospf 0 0 10\nconflicts oldroute 0 9.0\n"
            "file lib/routing/ospf.so 0644 " + std::string(300, 'o') +
            "\nfile lib/routing/bgp.so 0644 bgp for variant 3", version);
    d.files[1].hardwareVariant = 3;
    return d;
}

const std::string kWireless =
    "name wireless\ndepends system 7.0\nfile lib/wl/fw.bin 0644 \\x01\\x02\\x03";

}  // namespace

std::map<std::string, std::string> seed_packages(const DigestSigner& sign) {
    const auto pack = [&](const PackageDescription& d) {
        std::string err;
        return build_recipe(d, sign, err);
    };
    PackageDescription image =
        described("name container\nsha256\nfile lib/ct 0644 ct\nimage text image payload", "7.15");
    image.level = 0;
    return {
        {"system.npk", pack(system_spec("7.15"))},
        {"routing.npk", pack(routing_spec("7.15"))},
        // Old enough that the legacy signature suffices (with downgrades allowed it installs).
        {"wireless-sha1-legacy.npk", pack(described(kWireless + "\nsignature legacy", "6.40"))},
        {"container-image.npk", pack(image)},
        {"wireless-alt-magic.dpk",
         pack(described(kWireless + "\nsha256\nmagic alternate", "7.16"))},
        {"tarnvel-bundle.npk",
         pack(describe_bundle({"tarnvel", ver(7, 15), 0x5f000000u, 0},
                              {system_spec("7.15"), routing_spec("7.15"),
                               described(kWireless + "\nsha256", "7.15")},
                              {{"wireless", 0, 0, 0}}))},
        {"unsigned.npk",
         pack(described("name ups\nsha256\nfile etc/ups 0644 ups\nsignature none", "7.15"))},
        {"traversal.npk",
         pack(described("name evil\nsha256\nfile ../../etc/passwd 0644 x", "7.15"))},
    };
}

std::map<std::string, std::string> installed_packages(const DigestSigner& sign) {
    std::string err;
    const PackageDescription bundle = describe_bundle({"tarnvel", ver(7, 10), 0x5e000000u, 0},
                                                      {system_spec("7.10"), routing_spec("7.10")});
    return {{"1-tarnvel.npk", build_recipe(bundle, sign, err)},
            {"2-wireless.npk", build_recipe(described(kWireless + "\nsha256", "7.10"), sign, err)}};
}

std::map<std::string, std::string> seed_manifests() {
    return {
        {"staged.txt",
         "U /flash/var/pdb/old\nL /flash/bin/ash sh\nM /flash/bin/sh /flash/bin/tmpA1b2C3\n"
         "M /flash/var/pdb/system/version /ram/tmpZz9yY8\n"},
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
        {"schedule-disable.txt", "disable"},
        {"version.txt", "117833216 1593835520\n"},
    };
}
