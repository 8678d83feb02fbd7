// Tamper sweep: every byte of small signed packages altered (XOR 0xFF everywhere, XOR 0x01 in the
// file, chunk and package headers) and the packages cut short, each variant installed over an
// older version in the default run (from /rw/pckg/.download/) and in stream mode. Each must be:
//   refused - the installation failed and the tree is as before (post-install log aside);
//   dropped - the scan ("broken package") or admission ("omitting package", "can not install")
//             left it out, and nothing changed;
//   ignored - no decision reads the altered byte, and the tree equals the original's.
// TAMPER_SAMPLE=N alters only every N-th byte and cuts at every N-th sampled offset (chunk
// boundaries are always cut).

#include "e2e/router.h"
#include "package/format.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <set>

namespace {

enum class Mode { Upload, Stream };

// Chunk offsets of a single package, and the bytes its signed digest covers.
// `framing` is the file header, chunk headers and package header payload: where a small change
// (a length off by one, a neighbouring type or version) reads differently from a large one.
struct Layout {
    std::size_t coveredEnd = 0;        // end of the signature chunk header = signature payload
    std::set<std::size_t> boundaries, framing;  // boundaries: every chunk and payload start
};

Layout layout_of(const std::string& bytes) {
    Layout l;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t at = kFileHeaderSize;
    l.boundaries = {0, 4, at};
    for (std::size_t i = 0; i < kFileHeaderSize; ++i) l.framing.insert(i);
    while (at + kChunkHeaderSize <= bytes.size()) {
        const std::uint16_t type = load_u16(data + at);
        const std::uint32_t length = load_u32(data + at + 2);
        const std::size_t framed = kChunkHeaderSize + (type == kChunkPackageHeader ? length : 0);
        for (std::size_t i = 0; i < framed; ++i) l.framing.insert(at + i);
        if (type == kChunkSignature) l.coveredEnd = at + kChunkHeaderSize;
        l.boundaries.insert({at, at + kChunkHeaderSize});
        at += kChunkHeaderSize + length;
    }
    return l;
}

// One package under test; [reliedFrom, reliedTo) are the signature payload bytes that the
// scheme which must accept it reads.
struct SweepCase {
    std::string name, original;
    std::size_t reliedFrom, reliedTo;
};

// True when no decision reads byte `pos` in `mode`: the length field in stream mode (progress
// only), signature bytes the deciding scheme does not read, and chunks after the signature.
bool no_decision_reads(const Layout& l, const SweepCase& c, Mode mode, std::size_t pos) {
    if (pos < 4) return false;                               // magic
    if (pos < kFileHeaderSize) return mode == Mode::Stream;  // length: the scan checks it
    if (pos < l.coveredEnd) return false;  // marker (it picks the digest) and the signed bytes
    return pos - l.coveredEnd < c.reliedFrom || pos - l.coveredEnd >= c.reliedTo;
}

struct Variant {
    std::string what, bytes;
    bool mayBeIgnored;
};

std::vector<Variant> variants_of(const SweepCase& c, const Layout& l, Mode mode) {
    const char* sample = std::getenv("TAMPER_SAMPLE");
    const std::size_t step = std::max(1ul, sample ? std::strtoul(sample, nullptr, 10) : 1ul);
    std::vector<Variant> out;
    for (std::size_t pos = 0; pos < c.original.size(); pos += step) {
        for (const unsigned flip : {0xFFu, 0x01u}) {
            if (flip == 0x01 && l.framing.count(pos) == 0) continue;
            Variant v{"byte " + std::to_string(pos) + " ^ " + std::to_string(flip), c.original,
                      no_decision_reads(l, c, mode, pos)};
            v.bytes[pos] = char(std::uint8_t(v.bytes[pos]) ^ flip);
            out.push_back(std::move(v));
        }
    }
    // Cuts at every chunk boundary and a sample of other offsets; in the default run also with
    // the length field made to match, so that the cut reaches the installation itself.
    std::set<std::size_t> cuts = l.boundaries;
    for (std::size_t n = 1; n < c.original.size(); n += 7 * step) cuts.insert(n);
    for (const std::size_t n : cuts) {
        if (n >= c.original.size()) continue;
        bool onlyIgnored = true;
        for (std::size_t pos = n; pos < c.original.size(); ++pos)
            onlyIgnored = onlyIgnored && no_decision_reads(l, c, Mode::Stream, pos);
        out.push_back({"cut at " + std::to_string(n), c.original.substr(0, n),
                       mode == Mode::Stream && onlyIgnored});
        if (mode == Mode::Upload && n >= kFileHeaderSize) {
            Variant fixed{out.back().what + " with its length fixed", out.back().bytes, onlyIgnored};
            store_u32(reinterpret_cast<std::uint8_t*>(fixed.bytes.data()) + 4,
                      std::uint32_t(n - kFileHeaderSize));
            out.push_back(fixed);
        }
    }
    return out;
}

void run_sweep(const SweepCase& c, const std::string& label) {
    ROUTER(r);
    for (const char* old : {"a 6.40; file bin/a 0755 one; file etc/a.conf 0644 old; file "
                            "share/a/gone 0644 gone", "b 6.47; file bin/b 0755 b one"})
        ASSERT_EQ(r.run({"-"}, short_package(old)).status, 0);
    const std::string upload = r.at("rw/pckg/.download/" + c.name + ".npk");
    std::filesystem::create_directories(r.at("rw/pckg/.download"));
    auto tree = [&] {
        Tree t = snapshot(r.at(""));
        t.erase("flash/postlog");
        return t;
    };
    auto install = [&](const std::string& bytes, Mode mode) {
        if (mode == Mode::Upload) write_file(upload, bytes);
        RunResult run = mode == Mode::Stream ? r.run({"-"}, bytes) : r.run({});
        ::unlink(upload.c_str());
        return run;
    };
    const Tree before = tree();
    // Back to the prepared state, rebuilt only when the run changed it.
    auto settle = [&](const Tree& after) {
        ::unlink(r.at("flash/postlog").c_str());
        if (after != before) r.restore(before);
        return after == before || tree() == before;
    };
    std::map<Mode, Tree> installed;
    for (const Mode mode : {Mode::Upload, Mode::Stream}) {
        RunResult run = install(c.original, mode);
        installed[mode] = tree();
        ASSERT_TRUE(run.status == 0 && has(run.out, "installed " + label) &&
                    installed[mode] != before) << "the original does not install:\n" << run.out;
        ASSERT_TRUE(settle(installed[mode]));
    }

    const Layout l = layout_of(c.original);
    int faults = 0;
    for (const Mode mode : {Mode::Upload, Mode::Stream}) {
        for (const Variant& v : variants_of(c, l, mode)) {
            RunResult run = install(v.bytes, mode);
            const Tree after = tree();
            const bool dropped = has(run.out, "ERROR: broken package ") ||
                                 has(run.out, "omitting package") || has(run.out, "can not install");
            const bool refused = !dropped && (run.status != 0 || has(run.out, " failed"));
            std::string why;
            if ((dropped || refused) && after != before)
                why = (dropped ? "dropped" : "refused") + (" but changed flash:" + difference(before, after));
            else if (!dropped && !refused && !v.mayBeIgnored)
                why = "accepted though a decision reads the altered byte:" + difference(before, after);
            else if (!dropped && !refused && after != installed[mode])
                why = "accepted, tree differs from the original's:" + difference(installed[mode], after);
            if (!settle(after)) why += " (and the state could not be restored)";
            if (!why.empty() && ++faults <= 25)
                ADD_FAILURE() << c.name << (mode == Mode::Upload ? ", default run, " : ", stream, ")
                              << v.what << ": " << why << "\n  output: " << run.out.substr(0, 400);
        }
    }
    EXPECT_EQ(faults, 0) << "variants broke the rules";
}

// Version 6.49 needs EdDSA: the EdDSA half of the signature decides, the legacy half is unread.
// Every kind of entry, and chunks an installation reads, passes over and tolerates.
TEST(TamperSweep, EddsaSignedPackageAtLevelTwo) {
    run_sweep({"a", short_package("a 6.49; sha256; arch i386; conflicts a-legacy; file bin/a 0755 "
                                  "#!/bin/sh\\necho two\\n; file etc/a.conf 0644 mode=fast\\n; "
                                  "file lib/a 040755; file lib/a/data 0600 0123456789abcdef; file "
                                  "bin/a-link 0120777 a; trailer arch; trailer empty-depends"),
               kLegacySignatureSize, kFullSignatureSize}, "a-6.49");
}

// Version 6.48 is content with the legacy scheme: its check value and scalar (bytes 20 to 67)
// decide, over a SHA-1 digest.
TEST(TamperSweep, LegacySignedPackageAtLevelOne) {
    run_sweep({"b", short_package("b 6.48; note tamper sweep; depends a 6.40; provides b-api; "
                                  "file bin/b 0755 b two; file etc/b.conf 0644 x=1\\n; "
                                  "signature legacy; trailer arch i386"), 20, kLegacySignatureSize},
              "b-6.48");
}

}  // namespace
