// Tamper sweep: every byte of small signed packages altered in turn (XOR 0xFF everywhere, and
// XOR 0x01 in the file header, the chunk headers and the package header), and the packages cut
// short, each variant installed over an older installed version in the default run (the file
// dropped into /rw/pckg/.download/) and in stream mode ("-"). Each must end as exactly one of:
//   refused  - the installation failed, and the whole tree is as before (post-install log aside);
//   dropped  - the directory scan ("broken package") or admission ("omitting package",
//              "can not install") left it out, and nothing changed;
//   ignored  - the altered byte lies outside the signed digest and no decision reads it, and the
//              tree equals the one the original package leaves.
// Anything else fails the test. The counts are printed and recorded as test properties.
//
// TAMPER_SAMPLE=N alters only every N-th byte position and cuts at every N-th of the sampled
// offsets (chunk boundaries are always cut): for slow builds such as the sanitizer one.

#include "e2e/router.h"
#include "package/format.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

// Every entry below the root by relative path: type, permission bits, content or link target.
using Tree = std::map<std::string, std::string>;

enum class Mode { Upload, Stream };
enum class Outcome { Refused, Dropped, Ignored, Fault };

const char* mode_name(Mode m) { return m == Mode::Upload ? "default run" : "stream mode"; }
const char* outcome_name(Outcome o) {
    switch (o) {
    case Outcome::Refused: return "refused";
    case Outcome::Dropped: return "dropped";
    case Outcome::Ignored: return "ignored";
    case Outcome::Fault: return "FAULT";
    }
    return "?";
}

void walk(const std::string& dir, const std::string& prefix, Tree& out) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    for (const std::string& n : names) {
        const std::string path = dir + "/" + n;
        const std::string rel = prefix + n;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) continue;
        char mode[16];
        std::snprintf(mode, sizeof mode, "%04o ", unsigned(st.st_mode & 07777));
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t len = ::readlink(path.c_str(), target, sizeof target);
            out[rel] = "link -> " + std::string(target, len > 0 ? std::size_t(len) : 0);
        } else if (S_ISDIR(st.st_mode)) {
            out[rel] = std::string("dir ") + mode;
            walk(path, rel + "/", out);
        } else if (S_ISREG(st.st_mode)) {
            out[rel] = std::string("file ") + mode + read_file(path);
        } else {
            out[rel] = std::string("other ") + mode;
        }
    }
}

// What differs between two trees, one line per path (at most a few).
std::string difference(const Tree& before, const Tree& after) {
    std::string out;
    int shown = 0;
    auto note = [&](const std::string& line) {
        if (shown++ < 6) out += "\n      " + line;
    };
    for (const auto& [path, v] : before) {
        const auto it = after.find(path);
        if (it == after.end()) note("removed " + path);
        else if (it->second != v) note("changed " + path + ": " + it->second.substr(0, 60));
    }
    for (const auto& [path, v] : after)
        if (before.count(path) == 0) note("added " + path + ": " + v.substr(0, 60));
    return out;
}

// Chunk offsets of a single package, and the bytes its signed digest covers.
struct Layout {
    std::size_t size = 0;
    std::size_t coveredBegin = 0;    // the package header chunk: the digest restarts there
    std::size_t coveredEnd = 0;      // end of the signature chunk header
    std::size_t signatureBegin = 0;  // the signature payload
    std::set<std::size_t> boundaries;  // every chunk start and payload start
    // The file header, every chunk header and the package header payload: the bytes where a
    // small change (a length off by one, a neighbouring type or version) reads differently
    // from a large one.
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
        if (type == kChunkSignature) {
            l.coveredEnd = at + kChunkHeaderSize;
            l.signatureBegin = l.coveredEnd;
        }
        l.boundaries.insert(at);
        l.boundaries.insert(at + kChunkHeaderSize);
        at += kChunkHeaderSize + length;
    }
    return l;
}

// One package under test and the signature bytes its acceptance rests on.
struct SweepCase {
    std::string name;
    std::string original;
    // Signature payload bytes [from, to) that the scheme which must accept it reads; empty when
    // either scheme alone reaches the required level.
    std::size_t reliedFrom = 0;
    std::size_t reliedTo = 0;
};

// True when no decision reads byte `pos` of the package in `mode`: then a variant altered there
// may install, and must install exactly what the original does. Such bytes are the length field
// in stream mode (progress only), the signature bytes the deciding scheme does not read, and the
// chunks after the signature, which are looked at only to see that nothing installable follows.
bool no_decision_reads(const Layout& l, const SweepCase& c, Mode mode, std::size_t pos) {
    if (pos < 4) return false;                                   // magic
    if (pos < kFileHeaderSize) return mode == Mode::Stream;      // length: the scan checks it
    if (pos < l.coveredEnd) return false;  // marker (it picks the digest) and the signed bytes
    const std::size_t sig = pos - l.signatureBegin;
    return sig < c.reliedFrom || sig >= c.reliedTo;
}

struct Variant {
    std::string what;
    std::string bytes;
    bool mayBeIgnored = false;
    std::optional<std::size_t> alteredByte;  // none for a cut
};

struct Tally {
    std::map<std::string, int> counts;  // "<mode> <outcome>"
    std::map<Mode, std::set<std::size_t>> ignoredPositions;
    std::vector<std::string> faults;
    int runs = 0;
};

std::size_t sample_step() {
    const char* text = std::getenv("TAMPER_SAMPLE");
    if (text == nullptr) return 1;
    const unsigned long n = std::strtoul(text, nullptr, 10);
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

    // Installs `old` packages in stream mode and keeps the resulting state.
    bool prepare(const std::vector<std::string>& old) {
        for (const std::string& p : old) {
            RunResult run = r_.stream(p);
            if (run.status != 0) {
                ADD_FAILURE() << "installing the older version failed:\n" << run.out;
                return false;
            }
        }
        ::mkdir(r_.at("rw").c_str(), 0755);
        ::mkdir(r_.at("rw/pckg").c_str(), 0755);
        ::mkdir(r_.at(kUploadDir).c_str(), 0755);
        ::unlink(r_.at("flash/postlog").c_str());
        before_ = tree();
        std::error_code ec;
        for (const char* part : {"flash", "ram"}) {
            fs::copy(r_.at(part), saved_ / part,
                     fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
            if (ec) {
                ADD_FAILURE() << "saving " << part << ": " << ec.message();
                return false;
            }
        }
        return restore();
    }

    // The tree that installing `bytes` in `mode` leaves; the state is restored afterwards.
    bool expect_installed(const std::string& bytes, const std::string& fileName,
                          const std::string& label, Mode mode) {
        RunResult run = install(bytes, fileName, mode);
        Tree after = tree();
        if (run.status != 0 || !has(run.out, "installed " + label) || after == before_) {
            ADD_FAILURE() << "the original package does not install in the " << mode_name(mode)
                          << ":\n" << run.out;
            return false;
        }
        installed_[mode] = after;
        return settle(after);
    }

    // Installs one variant, classifies what happened and restores the state.
    Outcome judge(const Variant& v, const std::string& fileName, Mode mode, std::string& why) {
        RunResult run = install(v.bytes, fileName, mode);
        const Tree after = tree();
        const bool dropped = has(run.out, "ERROR: broken package ") ||
                             has(run.out, "omitting package") || has(run.out, "can not install");
        const bool refused = !dropped && (run.status != 0 || has(run.out, " failed"));
        Outcome o;
        if (dropped || refused) {
            o = after == before_ ? (dropped ? Outcome::Dropped : Outcome::Refused) : Outcome::Fault;
            if (o == Outcome::Fault)
                why = std::string(dropped ? "dropped" : "refused") + " but changed flash:" +
                      difference(before_, after);
        } else if (!v.mayBeIgnored) {
            o = Outcome::Fault;
            why = "accepted (status " + std::to_string(run.status) +
                  ") though a decision reads the altered byte:" + difference(before_, after);
        } else if (after != installed_[mode]) {
            o = Outcome::Fault;
            why = "accepted, but the tree differs from the original's:" +
                  difference(installed_[mode], after);
        } else {
            o = Outcome::Ignored;
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

    // Everything below the root that a run may touch; the post-install log is kept apart.
    Tree tree() const {
        Tree t;
        walk(r_.at(""), "", t);
        t.erase("flash/postlog");
        return t;
    }

    // Back to the prepared state: the log goes, and flash and /ram are copied back only when
    // the run changed them.
    bool settle(const Tree& after) {
        ::unlink(r_.at("flash/postlog").c_str());
        if (after == before_) return true;
        return restore();
    }

    bool restore() {
        std::error_code ec;
        for (const char* part : {"flash", "ram"}) {
            for (const auto& entry : fs::directory_iterator(r_.at(part), ec))
                fs::remove_all(entry.path(), ec);
            fs::copy(saved_ / part, r_.at(part),
                     fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
        }
        if (ec || tree() != before_) {
            ADD_FAILURE() << "could not restore the prepared state " << ec.message();
            return false;
        }
        return true;
    }

    Router& r_;
    TempDir saved_;
    Tree before_;
    std::map<Mode, Tree> installed_;
};

std::vector<Variant> variants_of(const SweepCase& c, const Layout& l, Mode mode) {
    const std::size_t step = sample_step();
    std::vector<Variant> out;
    for (std::size_t pos = 0; pos < c.original.size(); pos += step) {
        for (const std::uint8_t flip : {std::uint8_t(0xFF), std::uint8_t(0x01)}) {
            if (flip == 0x01 && l.framing.count(pos) == 0) continue;
            Variant v;
            v.what = "byte " + std::to_string(pos) + " ^ " + std::to_string(flip);
            v.alteredByte = pos;
            v.bytes = c.original;
            v.bytes[pos] = char(std::uint8_t(v.bytes[pos]) ^ flip);
            v.mayBeIgnored = no_decision_reads(l, c, mode, pos);
            out.push_back(std::move(v));
        }
    }
    // Cuts at every chunk boundary and at a sample of other offsets; in the default run also
    // with the length field made to match, so that the cut reaches the installation itself.
    std::set<std::size_t> cuts = l.boundaries;
    for (std::size_t n = 1; n < l.size; n += 7 * step) cuts.insert(n);
    for (std::size_t n : cuts) {
        if (n >= l.size) continue;
        bool removesOnlyIgnored = true;
        for (std::size_t pos = n; pos < l.size; ++pos)
            removesOnlyIgnored = removesOnlyIgnored && no_decision_reads(l, c, Mode::Stream, pos);
        Variant v{"cut at " + std::to_string(n), c.original.substr(0, n), false, std::nullopt};
        v.mayBeIgnored = mode == Mode::Stream && removesOnlyIgnored;
        out.push_back(v);
        if (mode == Mode::Upload && n >= kFileHeaderSize) {
            Variant fixed{v.what + " with its length fixed", v.bytes, removesOnlyIgnored,
                          std::nullopt};
            auto* p = reinterpret_cast<std::uint8_t*>(fixed.bytes.data());
            store_u32(p + 4, std::uint32_t(n - kFileHeaderSize));
            out.push_back(fixed);
        }
    }
    return out;
}

void sweep(TamperBench& bench, const SweepCase& c, Tally& tally) {
    const Layout l = layout_of(c.original);
    ASSERT_GT(l.coveredEnd, l.coveredBegin);
    for (const Mode mode : {Mode::Upload, Mode::Stream}) {
        for (const Variant& v : variants_of(c, l, mode)) {
            std::string why;
            const Outcome o = bench.judge(v, c.name, mode, why);
            ++tally.runs;
            ++tally.counts[std::string(mode_name(mode)) + " " + outcome_name(o)];
            if (o == Outcome::Ignored && v.alteredByte)
                tally.ignoredPositions[mode].insert(*v.alteredByte);
            if (o == Outcome::Fault)
                tally.faults.push_back(c.name + ", " + mode_name(mode) + ", " + v.what + ": " +
                                       why);
        }
    }
}

void report(const SweepCase& c, const Tally& tally) {
    const Layout l = layout_of(c.original);
    std::ostringstream out;
    out << "[ tamper ] " << c.name << ": " << l.size << " bytes, signed digest covers "
        << l.coveredBegin << "-" << l.coveredEnd - 1 << ", signature payload from "
        << l.signatureBegin << "; " << tally.runs << " runs\n";
    for (const auto& [key, n] : tally.counts) {
        out << "[ tamper ]   " << key << ": " << n << "\n";
        std::string property = key;
        for (char& ch : property)
            if (ch == ' ') ch = '_';
        ::testing::Test::RecordProperty(property, n);
    }
    for (const auto& [mode, positions] : tally.ignoredPositions)
        out << "[ tamper ]   ignored byte positions, " << mode_name(mode) << ": "
            << ranges(positions) << "\n";
    std::cout << out.str() << std::flush;
}

void run_sweep(const SweepCase& c, const std::vector<std::string>& oldPackages,
               const std::string& label) {
    SKIP_WITHOUT_MOUNTS();
    Router r;
    ASSERT_TRUE(r.ok()) << r.error();
    ASSERT_FALSE(c.original.empty());
    TamperBench bench(r);
    ASSERT_TRUE(bench.prepare(oldPackages));
    ASSERT_TRUE(bench.expect_installed(c.original, c.name, label, Mode::Upload));
    ASSERT_TRUE(bench.expect_installed(c.original, c.name, label, Mode::Stream));
    Tally tally;
    sweep(bench, c, tally);
    report(c, tally);
    std::string listed;
    for (std::size_t i = 0; i < tally.faults.size() && i < 25; ++i)
        listed += "\n  " + tally.faults[i];
    EXPECT_TRUE(tally.faults.empty()) << tally.faults.size() << " variants broke the rules:"
                                      << listed;
}

std::string old_a() {
    return package("name a\nversion 6.40\nbuild-time 1600000000\n"
                   "file bin/a 0755 one\nfile etc/a.conf 0644 old\nfile share/a/gone 0644 gone\n");
}
std::string old_b() {
    return package("name b\nversion 6.47\nbuild-time 1600000000\nfile bin/b 0755 b one\n");
}

// Every kind of entry and the chunks an installation reads, passes over and tolerates.
constexpr const char* kFilesAndTrailer =
    "file bin/a 0755 #!/bin/sh\\necho two\\n\n"
    "file etc/a.conf 0644 mode=fast\\n\n"
    "file lib/a 040755\n"
    "file lib/a/data 0600 0123456789abcdef\n"
    "file bin/a-link 0120777 a\n";

// Version 6.49 needs EdDSA: the EdDSA half of the 132-byte signature decides, the legacy half
// is never read.
TEST(TamperSweep, EddsaSignedPackageAtLevelTwo) {
    SweepCase c;
    c.name = "a";
    c.original = package(std::string("name a\nversion 6.49\nbuild-time 1700000000\nsha256\n"
                                     "arch i386\nconflicts a-legacy\n") +
                         kFilesAndTrailer + "trailer arch\ntrailer empty-depends\n");
    c.reliedFrom = kLegacySignatureSize;
    c.reliedTo = kFullSignatureSize;
    run_sweep(c, {old_a(), old_b()}, "a-6.49");
}

// Version 6.48 is content with the legacy scheme: the 68-byte signature's check value and
// scalar (bytes 20 to 67) decide, over a SHA-1 digest.
TEST(TamperSweep, LegacySignedPackageAtLevelOne) {
    SweepCase c;
    c.name = "b";
    c.original = package("name b\nversion 6.48\nbuild-time 1700000000\nnote tamper sweep\n"
                         "depends a 6.40\nprovides b-api\n"
                         "file bin/b 0755 b two\nfile etc/b.conf 0644 x=1\\n\n"
                         "signature legacy\ntrailer arch i386\n");
    c.reliedFrom = 20;
    c.reliedTo = kLegacySignatureSize;
    run_sweep(c, {old_a(), old_b()}, "b-6.48");
}

}  // namespace
