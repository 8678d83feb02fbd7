// Legacy signature verification against OpenSSL's X25519 scalar multiplication, both measured
// in the same run. Counters: microseconds per operation of each and "ratio" (legacy check over
// one X25519), which should stay at most 8.
#include "package/signature/legacy.h"
#include "pkglib/signer.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBatch = 64;

struct Fixture {
    PrivateKeys priv{};
    PublicKeys pub{};
    std::uint8_t digest[32] = {1, 2, 3, 4, 5};
    std::uint8_t sig[68];
    EVP_PKEY_CTX* derive = nullptr;

    Fixture() {
        if (!generate_keys("bench", priv, pub) ||
            !legacy_sign(priv.legacyScalar, pub.h25, digest, sig) ||
            !legacy_check(sig, digest, pub.legacy, pub.h25)) {
            std::fprintf(stderr, "legacy_bench: cannot make a valid signature\n");
            std::abort();
        }
        // X25519 of a random scalar on a peer point: one full scalar multiplication per derive.
        std::uint8_t scalar[32], peerScalar[32], peerU[32];
        RAND_bytes(scalar, 32);
        RAND_bytes(peerScalar, 32);
        EVP_PKEY* own = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar, 32);
        EVP_PKEY* peerPriv = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, peerScalar, 32);
        std::size_t size = 32;
        EVP_PKEY_get_raw_public_key(peerPriv, peerU, &size);
        EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peerU, 32);
        derive = EVP_PKEY_CTX_new(own, nullptr);
        if (derive == nullptr || EVP_PKEY_derive_init(derive) != 1 ||
            EVP_PKEY_derive_set_peer(derive, peer) != 1) {
            std::fprintf(stderr, "legacy_bench: X25519 unavailable\n");
            std::abort();
        }
        EVP_PKEY_free(own);
        EVP_PKEY_free(peerPriv);
        EVP_PKEY_free(peer);
    }
    ~Fixture() { EVP_PKEY_CTX_free(derive); }
};

double time_legacy(Fixture& f) {
    const auto start = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
        benchmark::DoNotOptimize(legacy_check(f.sig, f.digest, f.pub.legacy, f.pub.h25));
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double time_x25519(Fixture& f) {
    std::uint8_t shared[32];
    const auto start = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
        std::size_t size = sizeof shared;
        benchmark::DoNotOptimize(EVP_PKEY_derive(f.derive, shared, &size));
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_LegacyCheckAgainstX25519(benchmark::State& state) {
    Fixture f;
    double legacyTime = 0, x25519Time = 0;
    for (auto _ : state) {
        const double legacy = time_legacy(f);
        const double x25519 = time_x25519(f);
        legacyTime += legacy;
        x25519Time += x25519;
        state.SetIterationTime(legacy);
    }
    const double ops = double(kBatch) * double(state.iterations());
    state.counters["legacy_us"] = legacyTime / ops * 1e6;
    state.counters["x25519_us"] = x25519Time / ops * 1e6;
    state.counters["ratio"] = legacyTime / x25519Time;
}
BENCHMARK(BM_LegacyCheckAgainstX25519)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
