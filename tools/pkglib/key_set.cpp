// Key set loading and generation for pkgtool. A new key set is checked by signing a probe
// digest before it is written, so a bad generator never leaves keys that verify nothing.
#include "pkglib/key_set.h"

#include "pkglib/signer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

struct KeySet::Impl {
    std::unique_ptr<PackageSigner> legacy;
    std::unique_ptr<PackageSigner> full;
};

KeySet::KeySet(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
KeySet::~KeySet() = default;

std::string public_keys_beside(const std::string& privatePath) {
    std::filesystem::path dir = std::filesystem::path(privatePath).parent_path();
    return (dir.empty() ? std::filesystem::path("public.txt") : dir / "public.txt").string();
}

std::unique_ptr<KeySet> KeySet::load(const std::string& privatePath, std::string& err) {
    const std::string publicPath = public_keys_beside(privatePath);
    auto impl = std::make_unique<Impl>();
    impl->legacy = PackageSigner::from_files(publicPath, privatePath, false, err);
    if (!impl->legacy) return nullptr;
    impl->full = PackageSigner::from_files(publicPath, privatePath, true, err);
    if (!impl->full) return nullptr;
    return std::unique_ptr<KeySet>(new KeySet(std::move(impl)));
}

std::string KeySet::sign(const std::uint8_t digest[32], SignatureKind kind) const {
    switch (kind) {
    case SignatureKind::Legacy: return impl_->legacy->sign(digest);
    case SignatureKind::LegacyAndEddsa: return impl_->full->sign(digest);
    case SignatureKind::None: break;
    }
    return {};
}

DigestSigner KeySet::signer() const {
    return [this](const std::uint8_t digest[32], SignatureKind kind) { return sign(digest, kind); };
}

namespace {

// O_EXCL: never overwrites, and the private key is never readable by others, not even briefly.
bool write_new_file(const std::string& path, const std::string& text, mode_t mode,
                    std::string& err) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd < 0) {
        err = path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (::close(fd) != 0 || !written) {
        err = path + ": cannot write";
        return false;
    }
    return true;
}

}  // namespace

bool write_new_key_set(const std::string& dir, std::string& err) {
    const std::string publicPath = (std::filesystem::path(dir) / "public.txt").string();
    const std::string privatePath = (std::filesystem::path(dir) / kNewPrivateKeyFile).string();
    // Both checked before either is written: a refused run leaves the directory as it was.
    for (const std::string& path : {publicPath, privatePath}) {
        struct stat st;
        if (lstat(path.c_str(), &st) == 0) {
            err = path + " exists; not overwriting a key file";
            return false;
        }
    }
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        err = dir + ": " + std::strerror(errno);
        return false;
    }
    PrivateKeys priv;
    PublicKeys pub;
    // A random label gives each key set its own H25 constants.
    std::uint8_t labelBytes[16];
    std::ifstream random("/dev/urandom", std::ios::binary);
    if (!random.read(reinterpret_cast<char*>(labelBytes), sizeof labelBytes)) {
        err = "cannot read /dev/urandom";
        return false;
    }
    std::string label = "pkgtool keygen ";
    for (std::uint8_t b : labelBytes) {
        static const char kHex[] = "0123456789abcdef";
        label += kHex[b >> 4];
        label += kHex[b & 15];
    }
    if (!generate_keys(label, priv, pub)) {
        err = "key generation failed";
        return false;
    }
    if (!PackageSigner::create(priv, pub, true, err)) return false;
    if (!write_new_file(privatePath, format_private_keys(priv), 0600, err)) return false;
    return write_new_file(publicPath, format_public_keys(pub), 0644, err);
}
