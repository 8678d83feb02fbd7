// The development-key signers of the seed packages (see seed_packages.h). Apart from the
// package builders because the signer's headers and the format header both name the
// signature sizes.

#include "seed_packages.h"

#include "pkglib/signer.h"

SeedSigners::SeedSigners(const std::string& keysDir) {
    const std::string pub = keysDir + "/public.txt";
    const std::string priv = keysDir + "/dev-private.txt";
    full_ = PackageSigner::from_files(pub, priv, true, error_);
    if (full_) legacy_ = PackageSigner::from_files(pub, priv, false, error_);
}

SeedSigners::~SeedSigners() = default;

DigestSigner SeedSigners::signer() const {
    const PackageSigner* full = full_.get();
    const PackageSigner* legacy = legacy_.get();
    return [full, legacy](const std::uint8_t digest[32], SignatureKind kind) {
        return (kind == SignatureKind::Legacy ? legacy : full)->sign(digest);
    };
}
