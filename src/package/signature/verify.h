#pragma once
// Verification of a package's signature chunk against the running package digest.

class ChunkBuf;
struct PublicKeys;

// Called with the reader at the start of a signature chunk's data. Finishes the digest, reads
// 132 bytes (legacy + EdDSA) or 68 (legacy only) of the chunk, copies them to the copy target
// and checks them: 2 when EdDSA accepts, 1 when the legacy scheme does, 0 otherwise (digest
// off, chunk under 68 bytes, which is then left unread, short read, or both checks failed).
int verify_signature(ChunkBuf& buf);
// The same with explicit keys, for tests.
int verify_signature(ChunkBuf& buf, const PublicKeys& keys);
