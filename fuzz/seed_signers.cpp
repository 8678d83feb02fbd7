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

Signer SeedSigners::full() const {
    const PackageSigner* signer = full_.get();
    return [signer](const std::uint8_t digest[32]) { return signer->sign(digest); };
}

Signer SeedSigners::legacy() const {
    const PackageSigner* signer = legacy_.get();
    return [signer](const std::uint8_t digest[32]) { return signer->sign(digest); };
}
