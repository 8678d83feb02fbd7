// The process-wide Installer, its lookups and its post-install log. Console members live in
// console.cpp and progress.cpp beside this file.

#include "core/installer.h"

#include "core/file_system.h"
#include "core/input_file.h"
#include "core/output_file.h"


namespace {
// Never destroyed: the instance lives until the process ends, and freeing every record of a
// large database one by one at exit costs more than loading it (the kernel takes it back whole).
std::unique_ptr<Installer>& slot() {
    static auto* installer = new std::unique_ptr<Installer>();
    return *installer;
}
}  // namespace

Installer& Installer::instance() {
    if (!slot()) slot() = std::make_unique<Installer>();
    return *slot();
}

Installer& Installer::reset() {
    slot() = std::make_unique<Installer>();
    return *slot();
}

std::optional<std::size_t> Installer::index_of_package(const std::string& name) const {
    for (std::size_t i = 0; i < packages.size(); ++i)
        if (packages[i]->name == name) return i;
    return std::nullopt;
}

void Installer::reserve_log() {
    const std::string path(kPostLogPath);
    std::vector<std::string> earlier;
    {
        InputFile in = InputFile::open(path);
        std::string line;
        char piece[4096];
        // A last line without its line feed is not taken: it may have been cut by a crash.
        while (const std::size_t got = in.read(piece, sizeof piece)) {
            for (const char* at = piece; at < piece + got; ++at) {
                if (*at != '\n') {
                    line += *at;
                    continue;
                }
                earlier.push_back(line);
                line.clear();
            }
        }
    }
    // The earlier run's lines belong before everything this run has recorded so far.
    messages.insert(messages.begin(), earlier.begin(), earlier.end());
    {
        OutputFile out = OutputFile::open(path, OutputFile::Mode::Truncate);
        const std::string zeros(4096, '\0');
        out.write(zeros.data(), zeros.size());
    }
    log_reserved = true;
}

void Installer::finish() {
    if (!log_reserved && messages.empty()) return;
    const std::string path(kPostLogPath);
    OutputFile out = OutputFile::open(
        path, log_reserved ? OutputFile::Mode::Truncate : OutputFile::Mode::Append);
    if (!out) return;
    // What the run put on flash is durable before the log tells the system it happened.
    (void)real_file_system().sync_file_system("/flash");
    for (const std::string& message : messages) out << message << '\n';
}
