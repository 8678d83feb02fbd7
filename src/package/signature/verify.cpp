// check_signature: EdDSA over the whole 32-byte digest buffer first, the legacy scheme over its
// first 20 bytes as the fallback.
#include "package/signature/verify.h"

#include "package/format.h"
#include "package/signature/crypto.h"
#include "package/signature/key_file.h"
#include "package/signature/legacy.h"

SignatureLevel check_signature(const std::uint8_t* sig, std::uint32_t size,
                               const std::uint8_t digest[32], const PublicKeys& keys) {
    if (size == kFullSignatureSize) {
        const asn1::blob key{keys.eddsa, keys.eddsa + 32};
        const asn1::blob message{digest, digest + 32};
        // The EdDSA part follows the legacy one.
        const asn1::blob signature{sig + kLegacySignatureSize, sig + kFullSignatureSize};
        if (eddsa::verify(key, message, signature)) return SignatureLevel::EdDsa;
    }
    return legacy_check(sig, digest, keys.legacy, keys.h25) ? SignatureLevel::Legacy
                                                            : SignatureLevel::None;
}
