// Reading schedule files and applying their request to an installed record.

#include "pdb/schedule.h"

#include "core/package.h"
#include "pdb/text_file.h"


std::string schedule_path(const std::string& packageName) {
    std::string path = "/ram/pdb/";
    for (char c : packageName) {
        // Only ASCII is kept, independent of the locale, so the path never holds a "/", a "."
        // or a byte that the rest of the system would spell differently.
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-';
        if (keep) path += c;
    }
    path += "/schedule";
    return path;
}

ScheduleRequest read_schedule(const std::string& path) {
    TextFile in(path);
    std::string word;
    if (!in.word(word)) return ScheduleRequest::None;
    if (word == "uninstall") return ScheduleRequest::Uninstall;
    if (word == "enable") return ScheduleRequest::Enable;
    if (word == "disable") return ScheduleRequest::Disable;
    return ScheduleRequest::None;
}

void apply_schedule(InstalledPackage& record, ScheduleRequest request) {
    switch (request) {
    case ScheduleRequest::None:
        break;
    case ScheduleRequest::Uninstall:
        record.action = kActionUninstall;
        break;
    case ScheduleRequest::Enable:
        record.action = kActionEnable;
        record.userForced = true;
        break;
    case ScheduleRequest::Disable:
        record.action = kActionDisable;
        record.userForced = true;
        break;
    }
}
