// Field arithmetic modulo 2^255 - 19 cross-checked against OpenSSL BIGNUM on random and edge
// values (long unreduced chains are covered by the ladder against X25519 in legacy_test).
#include "package/signature/field25519.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/rand.h>

#include <array>
#include <vector>

namespace fe = field25519;

namespace {

using Bytes = std::array<std::uint8_t, 32>;

class FieldTest : public ::testing::Test {
protected:
    FieldTest() : p_(fresh()) {
        BN_set_bit(p_, 255);
        BN_sub_word(p_, 19);
    }
    ~FieldTest() override {
        for (BIGNUM* n : owned_) BN_free(n);
        BN_CTX_free(ctx_);
    }
    static Bytes random_bytes() {
        Bytes b;
        RAND_bytes(b.data(), 32);
        return b;
    }
    BIGNUM* fresh() { return owned_.emplace_back(BN_new()); }
    BIGNUM* bn(const Bytes& b) {
        BIGNUM* n = BN_lebin2bn(b.data(), 32, fresh());
        BN_nnmod(n, n, p_, ctx_);
        return n;
    }
    static Bytes bytes_of(const BIGNUM* n) {
        Bytes b{};
        BN_bn2lebinpad(n, b.data(), 32);
        return b;
    }
    static Bytes bytes_of(const fe::Fe& f) {
        Bytes b;
        fe::to_bytes(b.data(), f);
        return b;
    }
    std::vector<BIGNUM*> owned_;
    BN_CTX* ctx_ = BN_CTX_new();
    BIGNUM* p_;
};

TEST_F(FieldTest, OperationsMatchBignum) {
    BIGNUM *r = fresh(), *e = fresh();
    BN_copy(e, p_);  // (p - 5) / 8, the exponent of the square root power
    BN_sub_word(e, 5);
    BN_rshift(e, e, 3);
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        const Bytes x = random_bytes(), y = random_bytes();
        const fe::Fe fx = fe::from_bytes(x.data()), fy = fe::from_bytes(y.data());
        BIGNUM *bx = bn(x), *by = bn(y);
        BN_mod_mul(r, bx, by, p_, ctx_);
        EXPECT_EQ(bytes_of(fe::mul(fx, fy)), bytes_of(r));
        BN_mod_sqr(r, bx, p_, ctx_);
        EXPECT_EQ(bytes_of(fe::sq(fx)), bytes_of(r));
        BN_mod_add(r, bx, by, p_, ctx_);
        EXPECT_EQ(bytes_of(fe::carried(fe::add(fx, fy))), bytes_of(r));
        BN_mod_sub(r, bx, by, p_, ctx_);
        EXPECT_EQ(bytes_of(fe::carried(fe::sub(fx, fy))), bytes_of(r));
        BN_mul_word(BN_copy(r, bx), 121665);
        BN_nnmod(r, r, p_, ctx_);
        EXPECT_EQ(bytes_of(fe::mul_small(fx, 121665)), bytes_of(r));
        if (round % 5 != 0) continue;
        ASSERT_NE(BN_mod_inverse(r, bx, p_, ctx_), nullptr);
        EXPECT_EQ(bytes_of(fe::invert(fx)), bytes_of(r));
        BN_mod_exp(r, bx, e, p_, ctx_);
        EXPECT_EQ(bytes_of(fe::pow22523(fx)), bytes_of(r));
        // The root formula for p = 5 (mod 8) applied to w = x^2.
        const fe::Fe w = fe::sq(fx), w2 = fe::mul_small(w, 2), t = fe::pow22523(w2);
        const fe::Fe i = fe::mul(w2, fe::sq(t));
        EXPECT_EQ(bytes_of(fe::sq(fe::mul(fe::mul(w, t), fe::sub(i, fe::one())))), bytes_of(w));
    }
    EXPECT_EQ(bytes_of(fe::invert(fe::zero())), Bytes{});
}

TEST_F(FieldTest, EncodingIsCanonicalAndTakesAllBits) {
    const std::pair<const char*, const char*> cases[] = {  // big-endian values
        {"zero", "0"},
        {"p - 1", "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffec"},
        {"p", "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed"},
        {"p + 1", "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffee"},
        {"2^255 - 1", "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"},
        {"2^255", "8000000000000000000000000000000000000000000000000000000000000000"},
        {"2^256 - 1", "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"},
    };
    for (const auto& [name, hex] : cases) {
        SCOPED_TRACE(name);
        BIGNUM* n = fresh();
        BN_hex2bn(&n, hex);
        const Bytes raw = bytes_of(n);
        BN_nnmod(n, n, p_, ctx_);
        EXPECT_EQ(bytes_of(fe::from_bytes(raw.data())), bytes_of(n));
        EXPECT_EQ(fe::parity(fe::from_bytes(raw.data())), BN_is_odd(n) ? 1 : 0);
    }
}

}  // namespace
