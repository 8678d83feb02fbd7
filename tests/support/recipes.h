#pragma once
// The one way tests and fuzz seeds make keys and package files: the recipe form of the
// package tool's library (describe_package, describe_bundle), signed with the development keys
// of the source tree.

#include "pkglib/description.h"
#include "pkglib/key_set.h"
#include "pkglib/signer.h"
#include "support/temp_dir.h"

#include <memory>
#include <string>

// The development key set in `keysDir` ("dev-private.txt" and "public.txt"); null with `err`.
inline std::unique_ptr<KeySet> load_dev_keys(const std::string& keysDir, std::string& err) {
    return KeySet::load(keysDir + "/dev-private.txt", err);
}

// The same keys parsed, for tests of the signature code; false when a file is bad.
inline bool read_dev_keys(const std::string& keysDir, PublicKeys& pub, PrivateKeys& priv) {
    return parse_public_keys(read_file(keysDir + "/public.txt"), pub) &&
           parse_private_keys(read_file(keysDir + "/dev-private.txt"), priv);
}

// The package file of a recipe; empty with `err` set when it cannot be built.
inline std::string build_recipe(const PackageDescription& recipe, const DigestSigner& sign,
                                std::string& err) {
    std::string out;
    return build_package_file(recipe, sign, out, err) ? out : std::string();
}
