// verify_signature: EdDSA over the whole 32-byte digest buffer first, the legacy scheme over its
// first 20 bytes as the fallback, so a chunk with a broken EdDSA part can still pass at level 1.
#include "package/signature/verify.h"

#include "package/package_reader.h"
#include "package/signature/crypto.h"
#include "package/signature/key_file.h"
#include "package/signature/legacy.h"

namespace {

constexpr std::uint32_t kFullSize = 132;
constexpr std::uint32_t kEddsaOffset = 68;

int verify_with(ChunkBuf& buf, const PublicKeys* keys) {
    if (!buf.digestOn) return 0;
    buf.finish_digest();
    if (buf.remaining < kLegacySignatureSize) return 0;
    const std::uint32_t n = buf.remaining >= kFullSize ? kFullSize : kLegacySignatureSize;
    std::uint8_t sig[kFullSize];
    const std::streamsize got = buf.source->sgetn(reinterpret_cast<char*>(sig), n);
    // A short read means the source has ended; the chunk's remaining length stays as it was.
    if (got != static_cast<std::streamsize>(n)) return 0;
    if (buf.copyTarget != nullptr) buf.copyTarget->sputn(reinterpret_cast<const char*>(sig), n);
    buf.remaining -= n;
    if (keys == nullptr) return 0;
    if (n == kFullSize) {
        const asn1::blob key{keys->eddsa, keys->eddsa + 32};
        const asn1::blob message{buf.digest, buf.digest + 32};
        const asn1::blob signature{sig + kEddsaOffset, sig + kFullSize};
        if (eddsa::verify(key, message, signature)) return 2;
    }
    return legacy_check(sig, buf.digest, keys->legacy, keys->h25) ? 1 : 0;
}

}  // namespace

int verify_signature(ChunkBuf& buf) { return verify_with(buf, embedded_public_keys()); }

int verify_signature(ChunkBuf& buf, const PublicKeys& keys) { return verify_with(buf, &keys); }
