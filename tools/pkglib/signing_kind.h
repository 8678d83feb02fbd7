#pragma once
// How a described package is signed, and the callback that signs it. Kept apart from the
// writer and the signer so that code using either can name them.

#include <cstdint>
#include <functional>
#include <string>

enum class SignatureKind { None, Legacy, LegacyAndEddsa };

// Signs a finished package digest (32 bytes; a SHA-1 digest fills the first 20) with the given
// kind; returns the signature chunk's payload, or empty when signing failed.
using DigestSigner = std::function<std::string(const std::uint8_t digest[32], SignatureKind)>;
