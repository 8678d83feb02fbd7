// The package listing. Every column is filled as a stream's default adjustment fills it, with
// the fill before the text; a text longer than its column is written whole.

#include "pdb/listing.h"

#include "core/installer.h"
#include "core/package.h"

#include <ctime>
#include <string_view>

namespace {

constexpr std::size_t kNameWidth = 16;
constexpr std::size_t kVersionWidth = 13;
constexpr std::size_t kBuiltWidth = 20;
constexpr std::size_t kNoteWidth = 40;
constexpr std::size_t kRuleWidth = 94;

// The build time as UTC, e.g. "Jan/01/1970 00:00:00"; empty when it cannot be converted.
std::string built_text(std::uint32_t buildTime) {
    const std::time_t t = std::time_t(buildTime);
    std::tm calendar;
    if (::gmtime_r(&t, &calendar) == nullptr) return {};
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%b/%d/%Y %H:%M:%S", &calendar);
    return std::string(buffer, n);
}

// Appends `text` after spaces that fill it out to `width`.
void column(std::string& out, std::string_view text, std::size_t width) {
    if (text.size() < width) out.append(width - text.size(), ' ');
    out += text;
}

}  // namespace

std::string listing_text(Installer& installer) {
    std::string out;
    column(out, "Name", kNameWidth);
    out += "    ";
    column(out, "Version", kVersionWidth);
    out += " ";
    column(out, "Built", kBuiltWidth);
    column(out, "Note", kNoteWidth);
    out += '\n';
    out.append(kRuleWidth, '-').append("\n");
    for (const auto& record : installer.packages) {
        if (record->name.empty()) continue;
        column(out, record->name, kNameWidth);
        out += " ";
        out += record->disabled ? "X" : " ";
        out += record->bundle.name.empty() ? "  " : "B ";
        column(out, version_text(record->version), kVersionWidth);
        out += " ";
        column(out, built_text(record->buildTime), kBuiltWidth);
        out += " ";
        column(out, record->note, kNoteWidth);
        out += '\n';
    }
    return out;
}
