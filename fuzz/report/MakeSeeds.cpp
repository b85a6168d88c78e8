// Writes the seed corpus of report_records_fuzz into the directory given:
// what children write in real runs (findings of every level with their
// rules, arguments and paths, accepted ones, a header, a profile, a package
// that could not be validated, a record cut short by a crash) and texts a
// package can put into a finding.

#include "app/report/ReportRecords.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace Validator;

std::string finding(std::string_view group, std::size_t code, std::string_view rule, LogLevel level,
                    std::string text, std::vector<std::string_view> arguments = {},
                    std::optional<std::string_view> path = std::nullopt, AcceptedBy acceptedBy = AcceptedBy::None)
{
    const Message message {level, std::move(text)};
    return ReportRecords::finding(RecordedFinding {group, code, rule, message, arguments, path, acceptedBy});
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
    const std::string header = ReportRecords::header({"org.example.app", "1.0", "1", "noarch"});
    const std::string placement = finding("package", 0, "install-location-not-allowed", LogLevel::Error,
                                          "[/opt/x] Installation not allowed in this location", {"/opt/x"}, "/opt/x");
    seed("passed", profile + header);
    seed("findings", profile + header + placement
                         + finding("package", 1, "qml-only-not-noarch", LogLevel::Warning, "[arch] QML-only RPMs should be noarch")
                         + finding("package content", 10, "scripts-not-allowed", LogLevel::Critical,
                                   "[scripts] Script sections are not allowed in RPM")
                         + finding("package content", 17, "symlink-notice", LogLevel::Info, "[/usr/share/a/l] Beware",
                                   {"/usr/share/a/l"}, "/usr/share/a/l")
                         + finding("desktop", 4, "desktop-application-value-invalid", LogLevel::Error,
                                   "[desktop] invalid value 'x' in 'X-Taliro-Application/Orientation' field",
                                   {"x", "X-Taliro-Application", "Orientation"}, "/usr/share/applications/a.desktop"));
    seed("accepted", profile + header
                         + finding("binary", 3, "rpath-empty", LogLevel::Warning, "[rpath] The rpath in binary is empty", {},
                                   std::nullopt, AcceptedBy::Ignore)
                         + finding("sandbox section", 16, "sandbox-permission-not-allowed", LogLevel::Error,
                                   "[Bogus] Permission is not allowed", {"Bogus"}, "/usr/share/applications/a.desktop",
                                   AcceptedBy::Baseline));
    seed("not-validated", profile + header + ReportRecords::notValidated("cannot extract the payload: cpio failed"));
    seed("no-profile", ReportRecords::notValidated("not a package file: a named pipe"));
    seed("cut-short", profile + placement.substr(0, placement.size() - 5));
    seed("package-text", profile + ReportRecords::header({"evil\x1b[2K", "\xff", "<&>", "\n"})
                             + finding("package content", 9, "vendor-not-allowed", LogLevel::Error,
                                       "[vendor] Evil\x1b[2K\r\xff\xfe <x a=\"&amp;\"> \t\n",
                                       {"Evil\x1b[2K\r\xff\xfe <x a=\"&amp;\"> \t\n"}, "\xff\n")
                             + finding("unknown group ]]>", 4294967295u, "no-such-rule ]]>", LogLevel::Error, ""));
    seed("empty-fields", ReportRecords::profile("") + ReportRecords::header({"", "", "", ""})
                             + finding("", 0, "", LogLevel::Info, "", {"", ""}, "") + ReportRecords::notValidated(""));
    return 0;
}
