#pragma once
// The one way unit tests confine product code below a scratch root: a forked child changes its
// root directory to it (as "installer -r" does) and sends back a text report, so the product
// code keeps its device paths and never reaches the host's /flash or /ram. An ordinary user's
// child first enters a user namespace of its own, mapped to that user. Also record descriptions
// to compare as text.

#include "core/installer.h"
#include "support/mount_ns.h"
#include "support/scenario.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>

inline std::string list_text(const std::vector<Dependency>& list) {
    std::ostringstream text;
    for (const Dependency& d : list)
        text << (&d == list.data() ? "" : ",") << d.name << ":" << d.min << ":" << d.max << ":"
             << d.priority;
    return text.str();
}

// Runs `body` in a child whose root is `root`, with a fresh Installer whose console output is
// discarded (messages are still recorded). Returns the body's report, or a text starting with
// "child " when the child could not run or did not exit normally.
inline std::string run_in_root(const std::string& root,
                               const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return "child pipe failed";
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) return "child fork failed";
    if (pid == 0) {
        ::close(fds[0]);
        // An ordinary user may change the root only in a user namespace of its own.
        std::string why;
        if (!enter_private_mount_namespace(why) || ::chroot(root.c_str()) != 0 || ::chdir("/") != 0)
            ::_exit(90);
        static RecordingTerminal silent;
        static FakeFlash flash;  // no flash device, as on the build host
        Installer& installer = Installer::reset();
        installer.terminal = &silent;
        installer.flash = &flash;
        const std::string report = body();
        FILE* out = ::fdopen(fds[1], "w");
        ::_exit(std::fwrite(report.data(), 1, report.size(), out) == report.size() &&
                        std::fclose(out) == 0 ? 0 : 91);
    }
    ::close(fds[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) return "child died: " + std::to_string(status) + "\n" + report;
    if (WEXITSTATUS(status) != 0) return "child exit " + std::to_string(WEXITSTATUS(status));
    return report;
}

// One line per record of the Installer's packages: name, version, build time, action, state,
// bundle link, relations and files, for comparing loads as text.
inline std::string describe_packages() {
    std::ostringstream out;
    for (const auto& record : Installer::instance().packages) {
        const InstalledPackage& r = *record;
        out << r.name << " v=" << r.version << " t=" << r.buildTime << " act=" << r.action
            << (r.disabled ? " disabled" : "") << (r.userForced ? " user" : "")
            << (r.isBundle ? " bundle" : "") << (r.hasImage ? " image" : "");
        if (!r.arch.empty()) out << " arch=" << r.arch;
        if (!r.note.empty()) out << " note=" << r.note;
        if (!r.bundle.name.empty()) out << " in=" << list_text({r.bundle});
        if (!r.depends.empty()) out << " deps=" << list_text(r.depends);
        if (!r.provides.empty()) out << " prov=" << list_text(r.provides);
        if (!r.conflicts.empty()) out << " conf=" << list_text(r.conflicts);
        for (const std::string& f : r.files) out << " " << f;
        out << "\n";
    }
    return out.str();
}
