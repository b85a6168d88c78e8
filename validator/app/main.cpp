#include "app/InterruptCleanup.h"
#include "app/PackageRun.h"
#include "core/Profile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <iostream>
#include <map>
#include <memory>
#include <vector>

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
    parser->addOptions({profileOption, suitesOption, criticalOnlyOption, colorOption});
    const QCommandLineOption jobsOption({"j", "jobs"}, "Validate up to N packages at once (default 1).", "N", "1");
    parser->addOption(jobsOption);
    parser->process(*app);

    const std::string profileList = Validator::profileListText();
    if (parser->isSet(suitesOption)) {
        std::cout << profileList << std::endl;
        return 0;
    }
    const QStringList packages = parser->positionalArguments();
    if (packages.isEmpty())
        parser->showHelp(1);
    bool jobsValid = false;
    const int jobs = parser->value(jobsOption).toInt(&jobsValid);
    if (!jobsValid || jobs < 1) {
        std::cerr << "Incorrect number of jobs: " << parser->value(jobsOption).toStdString() << std::endl;
        return 1;
    }

    Validator::RunOptions options;
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

    std::vector<std::string> packageFiles;
    for (const QString& package : packages) {
        // The argument's own bytes, so that any file name the shell passed works.
        packageFiles.push_back(QFile::encodeName(package).toStdString());
    }
    const int status = Validator::validatePackages(packageFiles, options, jobs) ? 1 : 0;
    parser.reset();
    app.reset();
    return status;
}
