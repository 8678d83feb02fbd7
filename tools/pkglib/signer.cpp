// Signers. The legacy public key is computed with affine Montgomery-curve arithmetic on OpenSSL
// BIGNUMs and u(k*B) with OpenSSL's X25519, independently of the installer's field code.
#include "pkglib/signer.h"

#include "package/signature/crypto.h"
#include "package/signature/legacy.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fstream>
#include <sstream>

namespace {

// Curve25519: p = 2^255 - 19, A = 486662, l the prime order of the base point (u = 9).
constexpr const char* kPrime = "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed";
constexpr const char* kOrder = "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ed";
constexpr unsigned long kCurveA = 486662;

struct BnDeleter {
    void operator()(BIGNUM* n) const { BN_free(n); }
};
struct CtxDeleter {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;

Bn bn() { return Bn(BN_new()); }

Bn bn_hex(const char* hex) {
    BIGNUM* n = nullptr;
    BN_hex2bn(&n, hex);
    return Bn(n);
}

Bn bn_le(const std::uint8_t* bytes, int size) { return Bn(BN_lebin2bn(bytes, size, nullptr)); }

// An affine point; `infinity` stands for the neutral element.
struct Affine {
    Bn u = bn();
    Bn y = bn();
    bool infinity = true;
};

// Affine curve arithmetic modulo p on v^2 = u^3 + A u^2 + u.
class Curve {
public:
    Curve() : p_(bn_hex(kPrime)), a_(bn()), ctx_(BN_CTX_new()) { BN_set_word(a_.get(), kCurveA); }

    // The base point (9, y) with y the even square root.
    bool base(Affine& out) {
        BN_set_word(out.u.get(), 9);
        Bn w = bn();
        BN_set_word(w.get(), 9 * 9 * 9 + kCurveA * 9 * 9 + 9);
        if (BN_mod_sqrt(out.y.get(), w.get(), p_.get(), ctx_.get()) == nullptr) return false;
        if (BN_is_odd(out.y.get())) BN_sub(out.y.get(), p_.get(), out.y.get());
        out.infinity = false;
        return true;
    }

    bool add(const Affine& p, const Affine& q, Affine& out) {
        if (p.infinity) return copy(q, out);
        if (q.infinity) return copy(p, out);
        BN_CTX* c = ctx_.get();
        const BIGNUM* m = p_.get();
        Bn lambda = bn(), num = bn(), den = bn(), t = bn();
        if (BN_cmp(p.u.get(), q.u.get()) == 0) {
            BN_mod_add(t.get(), p.y.get(), q.y.get(), m, c);
            if (BN_is_zero(t.get())) {
                out.infinity = true;
                return true;
            }
            // Tangent: (3u^2 + 2Au + 1) / 2y.
            BN_mod_sqr(num.get(), p.u.get(), m, c);
            BN_mul_word(num.get(), 3);
            BN_mod_mul(t.get(), a_.get(), p.u.get(), m, c);
            BN_mod_add(num.get(), num.get(), t.get(), m, c);
            BN_mod_add(num.get(), num.get(), t.get(), m, c);
            BN_add_word(num.get(), 1);
            BN_mod_add(den.get(), p.y.get(), p.y.get(), m, c);
        } else {
            BN_mod_sub(num.get(), q.y.get(), p.y.get(), m, c);
            BN_mod_sub(den.get(), q.u.get(), p.u.get(), m, c);
        }
        if (BN_mod_inverse(den.get(), den.get(), m, c) == nullptr) return false;
        BN_mod_mul(lambda.get(), num.get(), den.get(), m, c);
        // u3 = lambda^2 - A - u1 - u2, y3 = lambda (u1 - u3) - y1.
        Bn u3 = bn(), y3 = bn();
        BN_mod_sqr(u3.get(), lambda.get(), m, c);
        BN_mod_sub(u3.get(), u3.get(), a_.get(), m, c);
        BN_mod_sub(u3.get(), u3.get(), p.u.get(), m, c);
        BN_mod_sub(u3.get(), u3.get(), q.u.get(), m, c);
        BN_mod_sub(t.get(), p.u.get(), u3.get(), m, c);
        BN_mod_mul(y3.get(), lambda.get(), t.get(), m, c);
        BN_mod_sub(y3.get(), y3.get(), p.y.get(), m, c);
        BN_copy(out.u.get(), u3.get());
        BN_copy(out.y.get(), y3.get());
        out.infinity = false;
        return true;
    }

    bool multiply(const BIGNUM* n, const Affine& p, Affine& out) {
        Affine acc;
        for (int bit = BN_num_bits(n) - 1; bit >= 0; --bit) {
            if (!add(acc, acc, acc)) return false;
            if (BN_is_bit_set(n, bit) && !add(acc, p, acc)) return false;
        }
        return copy(acc, out);
    }

private:
    static bool copy(const Affine& from, Affine& to) {
        if (&from == &to) return true;
        to.infinity = from.infinity;
        return BN_copy(to.u.get(), from.u.get()) != nullptr &&
               BN_copy(to.y.get(), from.y.get()) != nullptr;
    }

    Bn p_;
    Bn a_;
    std::unique_ptr<BN_CTX, CtxDeleter> ctx_;
};

// The 32-byte public key OpenSSL derives from a 32-byte private key of `type`.
bool raw_public_key(int type, const std::uint8_t priv[32], std::uint8_t pub[32]) {
    EVP_PKEY* key = EVP_PKEY_new_raw_private_key(type, nullptr, priv, 32);
    if (key == nullptr) return false;
    std::size_t size = 32;
    const bool ok = EVP_PKEY_get_raw_public_key(key, pub, &size) == 1 && size == 32;
    EVP_PKEY_free(key);
    return ok;
}

// X25519(k, 9) through OpenSSL: u(k*B) for a clamped k.
bool x25519_base(const std::uint8_t k[32], std::uint8_t u[32]) {
    return raw_public_key(EVP_PKEY_X25519, k, u);
}

std::string hex(const std::uint8_t* bytes, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

std::string words(const std::uint32_t* values, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t be[4] = {std::uint8_t(values[i] >> 24), std::uint8_t(values[i] >> 16),
                                    std::uint8_t(values[i] >> 8), std::uint8_t(values[i])};
        if (i != 0) out += ' ';
        out += hex(be, 4);
    }
    return out;
}

bool read_text(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

}  // namespace

bool legacy_public_key(const std::uint8_t x[32], std::uint8_t u[32], std::uint8_t xEven[32]) {
    Curve curve;
    Affine base, point;
    Bn order = bn_hex(kOrder);
    Bn n = bn_le(x, 32);
    std::unique_ptr<BN_CTX, CtxDeleter> ctx(BN_CTX_new());
    if (!BN_nnmod(n.get(), n.get(), order.get(), ctx.get()) || BN_is_zero(n.get())) return false;
    if (!curve.base(base) || !curve.multiply(n.get(), base, point) || point.infinity) return false;
    // -P = (u, p - y): the same u with the other root, reached by the scalar l - x.
    if (BN_is_odd(point.y.get())) BN_sub(n.get(), order.get(), n.get());
    return BN_bn2lebinpad(point.u.get(), u, 32) == 32 && BN_bn2lebinpad(n.get(), xEven, 32) == 32;
}

bool legacy_sign(const std::uint8_t x[32], const H25Constants& constants,
                 const std::uint8_t digest20[20], std::uint8_t sig[68]) {
    // k is a clamped random scalar, so that OpenSSL's X25519 gives u(k*B) for exactly this k.
    std::uint8_t k[32];
    if (RAND_bytes(k, 32) != 1) return false;
    k[0] &= 0xf8;
    k[31] &= 0x7f;
    k[31] |= 0x40;
    std::uint8_t uR[32], check[32], a[32];
    if (!x25519_base(k, uR)) return false;
    h25(constants, uR, 32, check);
    for (int i = 0; i < kLegacyCheckOffset; ++i) sig[i] = 0;
    for (int i = 0; i < 16; ++i) sig[kLegacyCheckOffset + i] = check[i];
    legacy_scalar(digest20, check, constants, a);

    // s = (k - a) / x mod l, so that a*B + s*P = a*B + (k - a)*B = R.
    std::unique_ptr<BN_CTX, CtxDeleter> ctx(BN_CTX_new());
    Bn order = bn_hex(kOrder);
    Bn kn = bn_le(k, 32), an = bn_le(a, 32), xn = bn_le(x, 32), s = bn();
    BN_CTX* c = ctx.get();
    if (!BN_mod_sub(s.get(), kn.get(), an.get(), order.get(), c) ||
        BN_mod_inverse(xn.get(), xn.get(), order.get(), c) == nullptr ||
        !BN_mod_mul(s.get(), s.get(), xn.get(), order.get(), c)) {
        return false;
    }
    return BN_bn2lebinpad(s.get(), sig + kLegacyScalarOffset, 32) == 32;
}

bool eddsa_public_key(const std::uint8_t seed[32], std::uint8_t pub[32]) {
    return raw_public_key(EVP_PKEY_ED25519, seed, pub);
}

bool eddsa_sign(const std::uint8_t seed[32], const std::uint8_t* message, std::size_t length,
                std::uint8_t sig[64]) {
    EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
    if (key == nullptr) return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::size_t size = 64;
    const bool ok = ctx != nullptr &&
                    EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key) == 1 &&
                    EVP_DigestSign(ctx, sig, &size, message, length) == 1 && size == 64;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    return ok;
}

H25Constants derive_h25_constants(std::string_view label) {
    H25Constants out;
    SHA256 sha;
    std::uint8_t digest[32];
    auto word = [&](const std::string& text) {
        sha.add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        sha.finish(digest);
        return std::uint32_t(digest[0]) << 24 | std::uint32_t(digest[1]) << 16 |
               std::uint32_t(digest[2]) << 8 | std::uint32_t(digest[3]);
    };
    for (int i = 0; i < 8; ++i) out.iv[i] = word(std::string(label) + " iv " + std::to_string(i));
    for (int i = 0; i < 64; ++i) out.k[i] = word(std::string(label) + " k " + std::to_string(i));
    return out;
}

bool generate_keys(std::string_view label, PrivateKeys& priv, PublicKeys& pub) {
    std::uint8_t x[32];
    if (RAND_bytes(priv.eddsaSeed, 32) != 1 || RAND_bytes(x, 32) != 1) return false;
    pub.h25 = derive_h25_constants(label);
    return eddsa_public_key(priv.eddsaSeed, pub.eddsa) &&
           legacy_public_key(x, pub.legacy.u, priv.legacyScalar);
}

std::string format_public_keys(const PublicKeys& keys) {
    return "eddsa-public: " + hex(keys.eddsa, 32) + "\nlegacy-public: " +
           hex(keys.legacy.u, 32) + "\nh25-iv: " + words(keys.h25.iv, 8) +
           "\nh25-k: " + words(keys.h25.k, 64) + "\n";
}

std::string format_private_keys(const PrivateKeys& keys) {
    return "eddsa-seed: " + hex(keys.eddsaSeed, 32) + "\nlegacy-private: " +
           hex(keys.legacyScalar, 32) + "\n";
}

std::unique_ptr<PackageSigner> PackageSigner::create(const PrivateKeys& priv, const PublicKeys& pub,
                                       bool withEddsa, std::string& err) {
    std::uint8_t u[32], xEven[32], edPub[32];
    if (!legacy_public_key(priv.legacyScalar, u, xEven)) {
        err = "legacy private key is zero";
        return nullptr;
    }
    bool same = true;
    for (int i = 0; i < 32; ++i) {
        same = same && u[i] == pub.legacy.u[i] && xEven[i] == priv.legacyScalar[i];
    }
    if (!same) {
        err = "legacy private key does not match the public key (or has an odd y)";
        return nullptr;
    }
    if (withEddsa) {
        if (!eddsa_public_key(priv.eddsaSeed, edPub)) {
            err = "unusable EdDSA seed";
            return nullptr;
        }
        for (int i = 0; i < 32; ++i) same = same && edPub[i] == pub.eddsa[i];
        if (!same) {
            err = "EdDSA seed does not match the public key";
            return nullptr;
        }
    }
    return std::unique_ptr<PackageSigner>(new PackageSigner(priv, pub, withEddsa));
}

std::unique_ptr<PackageSigner> PackageSigner::from_files(const std::string& publicPath,
                                           const std::string& privatePath, bool withEddsa,
                                           std::string& err) {
    std::string text;
    PublicKeys pub;
    PrivateKeys priv;
    if (!read_text(publicPath, text) || !parse_public_keys(text, pub)) {
        err = "cannot read public key file " + publicPath;
        return nullptr;
    }
    if (!read_text(privatePath, text) || !parse_private_keys(text, priv)) {
        err = "cannot read private key file " + privatePath;
        return nullptr;
    }
    return create(priv, pub, withEddsa, err);
}

std::string PackageSigner::sign(const std::uint8_t digest[32]) const {
    std::uint8_t sig[132];
    if (!legacy_sign(priv_.legacyScalar, pub_.h25, digest, sig)) return std::string();
    if (withEddsa_ && !eddsa_sign(priv_.eddsaSeed, digest, 32, sig + 68)) return std::string();
    return std::string(reinterpret_cast<const char*>(sig), withEddsa_ ? 132 : 68);
}
