#pragma once
// Checking a package's signature bytes against its finished digest. The reader reads the bytes
// (ChunkBuf::read_signature); this side only judges them.

#include <cstdint>

struct PublicKeys;

// The strongest scheme a package's signature passes; the numbers are the levels a package
// must reach (ordered, so a level compares with the one required).
enum class SignatureLevel { None = 0, Legacy = 1, EdDsa = 2 };

// Checks the 68-byte legacy signature `legacy` and, when not null, the 64-byte EdDSA signature
// `eddsa` against `digest`, the 32-byte digest buffer (a SHA-1 digest fills its first 20
// bytes). EdDSA over the whole buffer is tried first, the legacy scheme over its first 20
// bytes as the fallback, so a chunk with a broken EdDSA part can still pass at Legacy.
SignatureLevel check_signature(const std::uint8_t* legacy, const std::uint8_t* eddsa,
                               const std::uint8_t digest[32], const PublicKeys& keys);
