// Tamper sweep: every byte of small signed packages altered (XOR 0xFF everywhere, XOR 0x01 in the
// file, chunk and package headers) and the packages cut short, each variant installed over an
// older version in the default run (from /rw/pckg/.download/) and in stream mode. Each must be:
//   refused - the installation failed and the tree is as before (post-install log aside);
//   dropped - the scan ("broken package") or admission ("omitting package", "can not install")
//             left it out, and nothing changed;
//   ignored - no decision reads the altered byte, and the tree equals the original's.
// Counts are printed and recorded as test properties. TAMPER_SAMPLE=N alters only every N-th
// byte and cuts at every N-th sampled offset (chunk boundaries are always cut).

#include "e2e/router.h"
#include "package/format.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

enum class Mode { Upload, Stream };
enum class Outcome { Refused, Dropped, Ignored, Fault };

const char* mode_name(Mode m) { return m == Mode::Upload ? "default run" : "stream mode"; }
const char* const kOutcomeNames[] = {"refused", "dropped", "ignored", "FAULT"};

// Chunk offsets of a single package, and the bytes its signed digest covers.
struct Layout {
    std::size_t size = 0;
    std::size_t coveredBegin = 0;  // the package header chunk: the digest restarts there
    std::size_t coveredEnd = 0;    // end of the signature chunk header = signature payload
    std::set<std::size_t> boundaries;  // every chunk start and payload start
    // File header, chunk headers and package header payload: where a small change (a length
    // off by one, a neighbouring type or version) reads differently from a large one.
    std::set<std::size_t> framing;
};

Layout layout_of(const std::string& bytes) {
    Layout l;
    l.size = bytes.size();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t at = kFileHeaderSize;
    l.boundaries = {0, 4, at};
    for (std::size_t i = 0; i < kFileHeaderSize; ++i) l.framing.insert(i);
    while (at + kChunkHeaderSize <= bytes.size()) {
        const std::uint16_t type = load_u16(data + at);
        const std::uint32_t length = load_u32(data + at + 2);
        for (std::size_t i = 0; i < kChunkHeaderSize; ++i) l.framing.insert(at + i);
        if (type == kChunkPackageHeader) {
            l.coveredBegin = at;
            for (std::size_t i = 0; i < length; ++i) l.framing.insert(at + kChunkHeaderSize + i);
        }
        if (type == kChunkSignature) l.coveredEnd = at + kChunkHeaderSize;
        l.boundaries.insert(at);
        l.boundaries.insert(at + kChunkHeaderSize);
        at += kChunkHeaderSize + length;
    }
    return l;
}

// One package under test; [reliedFrom, reliedTo) are the signature payload bytes that the
// scheme which must accept it reads.
struct SweepCase {
    std::string name;
    std::string original;
    std::size_t reliedFrom = 0;
    std::size_t reliedTo = 0;
};

// True when no decision reads byte `pos` in `mode`: the length field in stream mode (progress
// only), signature bytes the deciding scheme does not read, and chunks after the signature.
bool no_decision_reads(const Layout& l, const SweepCase& c, Mode mode, std::size_t pos) {
    if (pos < 4) return false;                               // magic
    if (pos < kFileHeaderSize) return mode == Mode::Stream;  // length: the scan checks it
    if (pos < l.coveredEnd) return false;  // marker (it picks the digest) and the signed bytes
    const std::size_t sig = pos - l.coveredEnd;
    return sig < c.reliedFrom || sig >= c.reliedTo;
}

struct Variant {
    std::string what;
    std::string bytes;
    bool mayBeIgnored = false;
    std::optional<std::size_t> alteredByte;  // none for a cut
};

std::size_t sample_step() {
    const char* text = std::getenv("TAMPER_SAMPLE");
    const unsigned long n = text == nullptr ? 1 : std::strtoul(text, nullptr, 10);
    return n == 0 ? 1 : std::size_t(n);
}

// "3-7, 12, 40-59"
std::string ranges(const std::set<std::size_t>& positions) {
    std::string out;
    for (auto it = positions.begin(); it != positions.end();) {
        const std::size_t first = *it;
        std::size_t last = first;
        while (++it != positions.end() && *it == last + 1) last = *it;
        out += (out.empty() ? "" : ", ") + std::to_string(first);
        if (last != first) out += "-" + std::to_string(last);
    }
    return out.empty() ? "none" : out;
}

// A router with the older versions installed, a copy of that state to go back to, and the
// trees that the original package leaves in each mode.
class TamperBench {
public:
    explicit TamperBench(Router& r) : r_(r) {}

    bool prepare(const std::vector<std::string>& old) {
        for (const std::string& p : old) {
            RunResult run = r_.stream(p);
            if (run.status != 0) {
                ADD_FAILURE() << "installing the older version failed:\n" << run.out;
                return false;
            }
        }
        fs::create_directories(r_.at(kUploadDir));
        ::unlink(r_.at("flash/postlog").c_str());
        before_ = tree();
        return true;
    }

    // Records the tree that the original leaves in `mode`, then restores the state.
    bool expect_installed(const SweepCase& c, const std::string& label, Mode mode) {
        RunResult run = install(c.original, c.name, mode);
        const Tree after = tree();
        if (run.status != 0 || !has(run.out, "installed " + label) || after == before_) {
            ADD_FAILURE() << "the original does not install in the " << mode_name(mode) << ":\n"
                          << run.out;
            return false;
        }
        installed_[mode] = after;
        return settle(after);
    }

    Outcome judge(const Variant& v, const std::string& fileName, Mode mode, std::string& why) {
        RunResult run = install(v.bytes, fileName, mode);
        const Tree after = tree();
        const bool dropped = has(run.out, "ERROR: broken package ") ||
                             has(run.out, "omitting package") || has(run.out, "can not install");
        const bool refused = !dropped && (run.status != 0 || has(run.out, " failed"));
        Outcome o = Outcome::Ignored;
        if (dropped || refused) {
            o = dropped ? Outcome::Dropped : Outcome::Refused;
            if (after != before_) {
                why = std::string(kOutcomeNames[int(o)]) + " but changed flash:" +
                      difference(before_, after);
                o = Outcome::Fault;
            }
        } else if (!v.mayBeIgnored) {
            o = Outcome::Fault;
            why = "accepted (status " + std::to_string(run.status) +
                  ") though a decision reads the altered byte:" + difference(before_, after);
        } else if (after != installed_[mode]) {
            o = Outcome::Fault;
            why = "accepted, tree differs from the original's:" +
                  difference(installed_[mode], after);
        }
        if (o == Outcome::Fault) why += "\n      output: " + run.out.substr(0, 400);
        if (!settle(after)) {
            why += " (and the state could not be restored)";
            return Outcome::Fault;
        }
        return o;
    }

private:
    static constexpr const char* kUploadDir = "rw/pckg/.download/";

    RunResult install(const std::string& bytes, const std::string& fileName, Mode mode) {
        if (mode == Mode::Stream) return r_.stream(bytes);
        const std::string path = r_.at(std::string(kUploadDir) + fileName + ".npk");
        write_file(path, bytes);
        RunResult run = r_.upgrade();
        ::unlink(path.c_str());
        return run;
    }

    Tree tree() const {
        Tree t = snapshot(r_.at(""), true);
        t.erase("flash/postlog");
        return t;
    }

    // Back to the prepared state, rebuilt only when the run changed it.
    bool settle(const Tree& after) {
        ::unlink(r_.at("flash/postlog").c_str());
        if (after == before_) return true;
        r_.restore(before_);
        if (tree() == before_) return true;
        ADD_FAILURE() << "could not restore the prepared state";
        return false;
    }

    Router& r_;
    Tree before_;
    std::map<Mode, Tree> installed_;
};

std::vector<Variant> variants_of(const SweepCase& c, const Layout& l, Mode mode) {
    const std::size_t step = sample_step();
    std::vector<Variant> out;
    for (std::size_t pos = 0; pos < c.original.size(); pos += step) {
        for (const std::uint8_t flip : {std::uint8_t(0xFF), std::uint8_t(0x01)}) {
            if (flip == 0x01 && l.framing.count(pos) == 0) continue;
            Variant v{"byte " + std::to_string(pos) + " ^ " + std::to_string(flip), c.original,
                      no_decision_reads(l, c, mode, pos), pos};
            v.bytes[pos] = char(std::uint8_t(v.bytes[pos]) ^ flip);
            out.push_back(std::move(v));
        }
    }
    // Cuts at every chunk boundary and a sample of other offsets; in the default run also with
    // the length field made to match, so that the cut reaches the installation itself.
    std::set<std::size_t> cuts = l.boundaries;
    for (std::size_t n = 1; n < l.size; n += 7 * step) cuts.insert(n);
    for (std::size_t n : cuts) {
        if (n >= l.size) continue;
        bool removesOnlyIgnored = true;
        for (std::size_t pos = n; pos < l.size; ++pos)
            removesOnlyIgnored = removesOnlyIgnored && no_decision_reads(l, c, Mode::Stream, pos);
        Variant v{"cut at " + std::to_string(n), c.original.substr(0, n),
                  mode == Mode::Stream && removesOnlyIgnored, std::nullopt};
        out.push_back(v);
        if (mode == Mode::Upload && n >= kFileHeaderSize) {
            Variant fixed{v.what + " with its length fixed", v.bytes, removesOnlyIgnored,
                          std::nullopt};
            store_u32(reinterpret_cast<std::uint8_t*>(fixed.bytes.data()) + 4,
                      std::uint32_t(n - kFileHeaderSize));
            out.push_back(fixed);
        }
    }
    return out;
}

void run_sweep(const SweepCase& c, const std::vector<std::string>& oldPackages,
               const std::string& label) {
    ROUTER(r);
    ASSERT_FALSE(c.original.empty());
    TamperBench bench(r);
    ASSERT_TRUE(bench.prepare(oldPackages));
    ASSERT_TRUE(bench.expect_installed(c, label, Mode::Upload));
    ASSERT_TRUE(bench.expect_installed(c, label, Mode::Stream));
    const Layout l = layout_of(c.original);
    ASSERT_GT(l.coveredEnd, l.coveredBegin);

    std::map<std::string, int> counts;  // "<mode> <outcome>"
    std::map<Mode, std::set<std::size_t>> ignoredPositions;
    std::vector<std::string> faults;
    int runs = 0;
    for (const Mode mode : {Mode::Upload, Mode::Stream}) {
        for (const Variant& v : variants_of(c, l, mode)) {
            std::string why;
            const Outcome o = bench.judge(v, c.name, mode, why);
            ++runs;
            ++counts[std::string(mode_name(mode)) + " " + kOutcomeNames[int(o)]];
            if (o == Outcome::Ignored && v.alteredByte)
                ignoredPositions[mode].insert(*v.alteredByte);
            if (o == Outcome::Fault)
                faults.push_back(c.name + ", " + mode_name(mode) + ", " + v.what + ": " + why);
        }
    }

    std::ostringstream out;
    out << "[ tamper ] " << c.name << ": " << l.size << " bytes, signed digest covers "
        << l.coveredBegin << "-" << l.coveredEnd - 1 << ", signature payload from "
        << l.coveredEnd << "; " << runs << " runs\n";
    for (const auto& [key, n] : counts) {
        out << "[ tamper ]   " << key << ": " << n << "\n";
        std::string property = key;
        for (char& ch : property)
            if (ch == ' ') ch = '_';
        ::testing::Test::RecordProperty(property, n);
    }
    for (const auto& [mode, positions] : ignoredPositions)
        out << "[ tamper ]   ignored byte positions, " << mode_name(mode) << ": "
            << ranges(positions) << "\n";
    std::cout << out.str() << std::flush;
    std::string listed;
    for (std::size_t i = 0; i < faults.size() && i < 25; ++i) listed += "\n  " + faults[i];
    EXPECT_TRUE(faults.empty()) << faults.size() << " variants broke the rules:" << listed;
}

std::vector<std::string> old_versions() {
    return {package("name a\nversion 6.40\nbuild-time 1600000000\nfile bin/a 0755 one\n"
            "file etc/a.conf 0644 old\nfile share/a/gone 0644 gone\n"),
            package("name b\nversion 6.47\nbuild-time 1600000000\nfile bin/b 0755 b one\n")};
}

// Version 6.49 needs EdDSA: the EdDSA half of the signature decides, the legacy half is unread.
// Every kind of entry, and chunks an installation reads, passes over and tolerates.
TEST(TamperSweep, EddsaSignedPackageAtLevelTwo) {
    run_sweep({"a",
               pkg("a", "6.49",
                   "sha256\narch i386\nconflicts a-legacy\n"
                   "file bin/a 0755 #!/bin/sh\\necho two\\n\nfile etc/a.conf 0644 mode=fast\\n\n"
                   "file lib/a 040755\nfile lib/a/data 0600 0123456789abcdef\n"
                   "file bin/a-link 0120777 a\ntrailer arch\ntrailer empty-depends\n"),
               kLegacySignatureSize, kFullSignatureSize},
              old_versions(), "a-6.49");
}

// Version 6.48 is content with the legacy scheme: its check value and scalar (bytes 20 to 67)
// decide, over a SHA-1 digest.
TEST(TamperSweep, LegacySignedPackageAtLevelOne) {
    run_sweep({"b",
               pkg("b", "6.48",
                   "note tamper sweep\ndepends a 6.40\nprovides b-api\nfile bin/b 0755 b two\n"
                   "file etc/b.conf 0644 x=1\\n\nsignature legacy\ntrailer arch i386\n"),
               20, kLegacySignatureSize},
              old_versions(), "b-6.48");
}

}  // namespace
