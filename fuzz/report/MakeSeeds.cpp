// Writes the seed corpus of report_records_fuzz into the directory given:
// what children write in real runs (findings of every level, a profile, a
// package that could not be validated, a record cut short by a crash) and
// texts a package can put into a finding.

#include "app/report/ReportRecords.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

using namespace Validator;

Message message(LogLevel level, std::string text)
{
    return Message {level, std::move(text)};
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::cerr << "usage: report_records_seeds DIRECTORY\n";
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    const auto seed = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(out / name, std::ios::binary) << bytes;
    };

    const std::string profile = ReportRecords::profile("regular") + ReportRecords::profileSource("default");
    const std::string placement =
        ReportRecords::finding("package", 0, message(LogLevel::Error, "[/opt/x] Installation not allowed in this location"));
    seed("passed", profile);
    seed("findings", profile + placement
                         + ReportRecords::finding("package", 1, message(LogLevel::Warning, "[arch] QML-only RPMs should be noarch"))
                         + ReportRecords::finding("desktop", 3, message(LogLevel::Critical, "[desktop] Exec missing"))
                         + ReportRecords::finding("icon", 0, message(LogLevel::Info, "[/usr/share/icons/a.png] Icon")));
    seed("not-validated", profile + ReportRecords::notValidated("cannot extract the payload: cpio failed"));
    seed("no-profile", ReportRecords::notValidated("not a package file: a named pipe"));
    seed("cut-short", profile + placement.substr(0, placement.size() - 5));
    seed("package-text", profile
                             + ReportRecords::finding("package content", 7,
                                                      message(LogLevel::Error, "[vendor] Evil\x1b[2K\r\xff\xfe <x a=\"&amp;\"> \t\n"))
                             + ReportRecords::finding("unknown group ]]>", 4294967295u, message(LogLevel::Error, "")));
    seed("empty-fields", ReportRecords::profile("") + ReportRecords::notValidated(""));
    return 0;
}
