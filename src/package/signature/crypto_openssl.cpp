// The platform crypto layer on OpenSSL libcrypto: SHA-1/SHA-256 through EVP digests and Ed25519
// verification through EVP_PKEY. The only file of the product that includes OpenSSL headers.
#include "package/signature/crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdlib>

namespace {

// The fixed algorithms below come from the default provider, fetched by their own names:
// libcrypto's configuration file could only change which provider answers, its error texts are
// never printed here, and its tables of every older cipher and digest name only slow the first
// fetch down. Reading, loading and building those, and freeing every table at exit just before
// the process gives its memory back anyway, cost each run about 0.6 ms. The first call into
// libcrypto decides, so every entry of this layer starts here.
void init_library() {
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS |
                            OPENSSL_INIT_NO_ADD_ALL_CIPHERS | OPENSSL_INIT_NO_ADD_ALL_DIGESTS |
                            OPENSSL_INIT_NO_ATEXIT,
                        nullptr);
}

// An EVP digest context that cannot be set up means libcrypto is unusable; nothing sensible can
// follow, so we stop rather than hand out a hasher that silently digests nothing.
EVP_MD_CTX* new_digest(const EVP_MD* md) {
    init_library();
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx == nullptr || EVP_DigestInit_ex(ctx, md, nullptr) != 1) std::abort();
    return ctx;
}

void digest_add(void* ctx, const std::uint8_t* data, std::size_t length) {
    if (length != 0) EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx), data, length);
}

// Finishing restarts the context, so a finished hasher digests further data afresh.
void digest_finish(void* ctx, const EVP_MD* md, std::uint8_t* out) {
    auto* c = static_cast<EVP_MD_CTX*>(ctx);
    unsigned int size = 0;
    EVP_DigestFinal_ex(c, out, &size);
    if (EVP_DigestInit_ex(c, md, nullptr) != 1) std::abort();
}

}  // namespace

SHA1::SHA1() : ctx_(new_digest(EVP_sha1())) {}
SHA1::~SHA1() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }
void SHA1::add(const std::uint8_t* data, std::size_t length) { digest_add(ctx_, data, length); }
void SHA1::finish(std::uint8_t* out) { digest_finish(ctx_, EVP_sha1(), out); }

SHA256::SHA256() : ctx_(new_digest(EVP_sha256())) {}
SHA256::~SHA256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }
void SHA256::add(const std::uint8_t* data, std::size_t length) { digest_add(ctx_, data, length); }
void SHA256::finish(std::uint8_t* out) { digest_finish(ctx_, EVP_sha256(), out); }

namespace eddsa {

bool verify(asn1::blob key, asn1::blob message, asn1::blob signature) {
    if (key.start == nullptr || signature.start == nullptr) return false;
    if (key.end - key.start != 32 || signature.end - signature.start != 64) return false;
    if (message.end < message.start) return false;
    init_library();
    EVP_PKEY* pkey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.start, 32);
    if (pkey == nullptr) return false;
    bool ok = false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx != nullptr && EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, pkey) == 1) {
        static const std::uint8_t kEmpty = 0;
        const std::uint8_t* msg = message.start != nullptr ? message.start : &kEmpty;
        ok = EVP_DigestVerify(ctx, signature.start, 64, msg,
                              static_cast<std::size_t>(message.end - message.start)) == 1;
    }
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(pkey);
    return ok;
}

}  // namespace eddsa
