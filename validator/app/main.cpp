#include "app/InterruptCleanup.h"
#include "app/PackageRun.h"
#include "app/RuleCommands.h"
#include "app/report/ReportFile.h"
#include "app/report/ReportFormat.h"
#include "common/VisibleText.h"
#include "core/Profile.h"
#include "package/PackageCmses.h"

#include <torvel/Certificate.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <iostream>
#include <functional>
#include <string_view>
#include <vector>
#include <map>
#include <memory>
#include <optional>

namespace {

const std::map<std::string, Validator::ColorMode>& colorModes()
{
    static const std::map<std::string, Validator::ColorMode> modes = {
        {"always", Validator::ColorMode::Always},
        {"never", Validator::ColorMode::Never},
        {"auto", Validator::ColorMode::Auto},
    };
    return modes;
}

// "Choose profile for validation." and every profile name, one per line.
QString profileHelp()
{
    QString help = "Choose profile for validation.";
    for (int code = 0; code <= 7; ++code)
        help += "\n- " + QString::fromStdString(Validator::profileName(static_cast<Validator::Profile>(code)));
    return help;
}

// Qt decodes the arguments by the locale, and a byte that is no text there
// comes back changed, so a file name from the command line is taken from
// argv itself: the first raw argument, from `next` on, that Qt decodes to
// `decoded`.
std::string rawArgument(int argc, char* argv[], const QString& decoded, int& next)
{
    for (int i = next; i < argc; ++i) {
        const std::string_view raw = argv[i];
        if (QString::fromLocal8Bit(raw.data(), static_cast<int>(raw.size())) == decoded) {
            next = i + 1;
            return std::string(raw);
        }
    }
    return QFile::encodeName(decoded).toStdString();
}

// The raw value of a long option given as "--name value" or "--name=value".
std::string rawOptionValue(int argc, char* argv[], const std::string& name, const QString& decoded)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view raw = argv[i];
        if (raw == "--")
            break;
        std::string_view value;
        if (raw == name && i + 1 < argc)
            value = argv[i + 1];
        else if (raw.starts_with(name + "="))
            value = raw.substr(name.size() + 1);
        else
            continue;
        if (QString::fromLocal8Bit(value.data(), static_cast<int>(value.size())) == decoded)
            return std::string(value);
    }
    return QFile::encodeName(decoded).toStdString();
}

} // namespace

int main(int argc, char* argv[])
{
    Validator::InterruptCleanup interruptCleanup;

    auto app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName("vetrik-tool");
    QCoreApplication::setApplicationVersion("unknown");

    auto parser = std::make_unique<QCommandLineParser>();
    parser->setApplicationDescription("Tool for package validation.");
    parser->addHelpOption();
    parser->addVersionOption();
    parser->addPositionalArgument("package", "Target package for validation.");
    const QCommandLineOption profileOption({"p", "profile"}, profileHelp(), "profile", "");
    const QCommandLineOption suitesOption({"s", "suites"}, "Get line output with list of Profile");
    const QCommandLineOption criticalOnlyOption("critical-only",
                                                "Enable only critical checks.\nThis option is used for pipeline integration.");
    const QCommandLineOption colorOption("color", "Choose color output level.\n- always\n- never\n- auto", "color", "");
    const QCommandLineOption reportOption("report", "Also write a machine-readable report of the run to <file>.", "file");
    const QCommandLineOption reportFormatOption("report-format", "Format of the report (default jsonl).\n- jsonl\n- junit",
                                                "format", "jsonl");
    const QCommandLineOption jobsOption({"j", "jobs"}, "Validate up to N packages at once (default 1).", "N", "1");
    const QCommandLineOption verifySignerOption(
        "verify-signer",
        "Take the profile from the developer certificate only once the developer block verifies against the CA "
        "bundle (--ca-bundle, or the library configuration's). Without it, or -p, the profile comes from a "
        "certificate nobody checked.");
    const QCommandLineOption caBundleOption("ca-bundle", "PEM bundle of trusted CA certificates; implies --verify-signer.",
                                            "file");
    const QCommandLineOption explainOption(
        "explain", "Print what each rule named as an argument requires, why, and how to satisfy it, and exit.");
    const QCommandLineOption listRulesOption(
        "list-rules", "List every rule with its group, its severity and whether the profile (-p) checks it, and exit.");
    const QCommandLineOption ruleNamesOption("rule-names", "End each finding line with the name of its rule.");
    const QCommandLineOption ignoreOption(
        "ignore", "Accept every finding of <rule> (may be repeated); a critical one never.", "rule");
    const QCommandLineOption baselineOption(
        "baseline", "Accept the findings that the JSON Lines report <report> of an earlier run lists.", "report");
    const QCommandLineOption summaryOption("summary", "Print one line with the run's totals at its end.");
    parser->addOptions({profileOption, suitesOption, criticalOnlyOption, colorOption, jobsOption, reportOption,
                        reportFormatOption, verifySignerOption, caBundleOption, explainOption, listRulesOption,
                        ruleNamesOption, ignoreOption, baselineOption, summaryOption});
    parser->process(*app);

    const std::string profileList = Validator::profileListText();
    if (parser->isSet(suitesOption)) {
        std::cout << profileList << std::endl;
        return 0;
    }
    if (parser->isSet(explainOption)) {
        std::vector<std::string> rules;
        for (const QString& rule : parser->positionalArguments())
            rules.push_back(rule.toStdString());
        return Validator::explainRules(rules);
    }
    if (parser->isSet(listRulesOption))
        return Validator::listRules(parser->value(profileOption).toUtf8().toStdString());
    const QStringList packages = parser->positionalArguments();
    if (packages.isEmpty())
        parser->showHelp(1);
    bool jobsValid = false;
    const int jobs = parser->value(jobsOption).toInt(&jobsValid);
    if (!jobsValid || jobs < 1) {
        std::cerr << "Incorrect number of jobs: " << Common::visibleText(parser->value(jobsOption).toStdString())
                  << std::endl;
        return 1;
    }

    std::vector<std::string> packageFiles;
    int nextArgument = 1;
    for (const QString& package : packages) {
        // The argument's own bytes, so that any file name the shell passed works.
        packageFiles.push_back(rawArgument(argc, argv, package, nextArgument));
    }

    // All checked before any package is looked at, so that a pipeline
    // learns at once of a report it will not get or findings it asked to
    // accept in vain.
    Validator::FindingAcceptance acceptance;
    std::vector<std::string> ignoredRules;
    for (const QString& rule : parser->values(ignoreOption))
        ignoredRules.push_back(rule.toStdString());
    const std::string baselinePath = rawOptionValue(argc, argv, "--baseline", parser->value(baselineOption));
    if (!Validator::acceptanceFromOptions(ignoredRules, parser->isSet(baselineOption) ? &baselinePath : nullptr,
                                          acceptance))
        return 1;

    std::unique_ptr<Validator::ReportFormat> reportFormat;
    std::unique_ptr<Validator::ReportFile> reportFile;
    const std::string reportPath = rawOptionValue(argc, argv, "--report", parser->value(reportOption));
    if (parser->isSet(reportOption)) {
        const std::string formatName = parser->value(reportFormatOption).toStdString();
        reportFormat = Validator::makeReportFormat(formatName, !parser->isSet(criticalOnlyOption));
        if (!reportFormat) {
            std::cerr << "Unknown report format \"" << Common::visibleText(formatName) << "\": choose jsonl or junit"
                      << std::endl;
            return 1;
        }
        std::string error;
        reportFile = Validator::ReportFile::create(reportPath, packageFiles, error);
        if (!reportFile) {
            std::cerr << "Cannot write the report " << Common::visibleText(reportPath) << ": " << error << std::endl;
            return 1;
        }
        reportFile->write(reportFormat->begin());
    } else if (parser->isSet(reportFormatOption)) {
        std::cerr << "--report-format needs --report <file>" << std::endl;
        return 1;
    }

    // Like the report, checked before any package is looked at: a pipeline
    // that asked for a verified signer must not get an unverified run.
    Validator::RunOptions options;
    options.verifySigner = parser->isSet(verifySignerOption) || parser->isSet(caBundleOption);
    if (options.verifySigner) {
        options.caBundle = parser->isSet(caBundleOption)
                               ? rawOptionValue(argc, argv, "--ca-bundle", parser->value(caBundleOption))
                               : PackageSignatures::defaultCaPath();
        if (const std::optional<std::string> problem = Validator::caBundleProblem(options.caBundle)) {
            std::cerr << "Cannot use the CA bundle \"" << Common::visibleText(options.caBundle) << "\": " << *problem
                      << std::endl;
            return 1;
        }
    }
    const std::string colorName = parser->value(colorOption).toStdString();
    auto mode = colorModes().find(colorName);
    if (mode == colorModes().end()) {
        std::cerr << "Incorrect or empty color mode name, using \"auto\"..." << std::endl;
        options.colorMode = Validator::ColorMode::Auto;
    } else {
        options.colorMode = mode->second;
    }
    options.profileName = parser->value(profileOption).toUtf8().toStdString();
    options.criticalOnly = parser->isSet(criticalOnlyOption);
    if (!acceptance.empty())
        options.recording.acceptance = &acceptance;
    options.recording.ruleNames = parser->isSet(ruleNamesOption);

    // The totals need what each package's child recorded, as the report does.
    const bool summary = parser->isSet(summaryOption);
    Validator::RunTotals totals;
    std::function<void(const Validator::PackageReport&)> report;
    if (reportFile || summary || options.recording.acceptance) {
        report = [&](const Validator::PackageReport& one) {
            totals.add(one);
            if (reportFile)
                reportFile->write(reportFormat->package(one));
        };
    }
    int status = Validator::validatePackages(packageFiles, options, jobs, report) ? 1 : 0;
    if (reportFile) {
        reportFile->write(reportFormat->end(totals));
        if (const std::string head = reportFormat->head(totals); !head.empty())
            reportFile->rewriteStart(head);
        std::string error;
        if (!reportFile->commit(error)) {
            std::cerr << "Cannot write the report " << Common::visibleText(reportPath) << ": " << error << std::endl;
            status = 1;
        }
    }
    // After every package's output, so that --jobs keeps them last too.
    if (const std::string accepted = Validator::acceptedLine(totals); !accepted.empty())
        std::cout << accepted << std::endl;
    if (summary)
        std::cout << Validator::summaryLine(totals) << std::endl;
    parser.reset();
    app.reset();
    return status;
}
