// check_signature: EdDSA over the whole 32-byte digest buffer first, the legacy scheme over its
// first 20 bytes as the fallback.
#include "package/signature/verify.h"

#include "package/signature/crypto.h"
#include "package/signature/key_file.h"
#include "package/signature/legacy.h"

SignatureLevel check_signature(const std::uint8_t* legacy, const std::uint8_t* eddsa,
                               const std::uint8_t digest[32], const PublicKeys& keys) {
    if (eddsa != nullptr) {
        const asn1::blob key{keys.eddsa, keys.eddsa + 32};
        const asn1::blob message{digest, digest + 32};
        const asn1::blob signature{eddsa, eddsa + 64};
        if (eddsa::verify(key, message, signature)) return SignatureLevel::EdDsa;
    }
    return legacy_check(legacy, digest, keys.legacy, keys.h25) ? SignatureLevel::Legacy
                                                            : SignatureLevel::None;
}
