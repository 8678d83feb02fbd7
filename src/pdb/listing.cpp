// The package listing. Every column is filled with the stream's default adjustment, which puts
// the fill before the text; a text longer than its column is written whole.

#include "pdb/listing.h"

#include "core/installer.h"
#include "core/package.h"

#include <ctime>
#include <iomanip>
#include <ostream>

namespace {

constexpr int kNameWidth = 16;
constexpr int kVersionWidth = 13;
constexpr int kBuiltWidth = 20;
constexpr int kNoteWidth = 40;
constexpr int kRuleWidth = 94;

// The build time as UTC, e.g. "Jan/01/1970 00:00:00"; empty when it cannot be converted.
std::string built_text(std::uint32_t buildTime) {
    const std::time_t t = std::time_t(buildTime);
    std::tm calendar;
    if (::gmtime_r(&t, &calendar) == nullptr) return {};
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%b/%d/%Y %H:%M:%S", &calendar);
    return std::string(buffer, n);
}

}  // namespace

void print_listing(Installer& installer, std::ostream& out) {
    out << std::setw(kNameWidth) << "Name" << "    " << std::setw(kVersionWidth) << "Version"
        << " " << std::setw(kBuiltWidth) << "Built" << std::setw(kNoteWidth) << "Note" << '\n';
    out << std::string(kRuleWidth, '-') << '\n';
    for (const auto& record : installer.packages) {
        if (record->name.empty()) continue;
        out << std::setw(kNameWidth) << record->name << " " << std::setw(1)
            << (record->disabled ? "X" : " ") << std::setw(2)
            << (record->bundle.name.empty() ? "  " : "B ") << std::setw(kVersionWidth)
            << version_text(record->version) << " " << std::setw(kBuiltWidth)
            << built_text(record->buildTime) << " " << std::setw(kNoteWidth) << record->note
            << '\n';
    }
}
