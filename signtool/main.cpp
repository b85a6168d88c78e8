// torvel: the command-line front end of libtorvel.

#include <map>

#include <QCoreApplication>
#include <QCommandLineParser>
#include <QString>

#include "Commands.h"

namespace {

struct Command {
    QString description;
    SignTool::CommandHandler handler;
};

// Listed in the help in name order, which is the map's order.
const std::map<QString, Command>& commandTable()
{
    static const std::map<QString, Command> table {
        {"sign", {"Sign packages.", SignTool::signCommand}},
        {"rotate", {"Rotate keys.", SignTool::rotateCommand}},
        {"verify", {"Verify package signatures.", SignTool::verifyCommand}},
        {"dump", {"Dump information about signatures in packages.", SignTool::dumpCommand}},
        {"delete", {"Delete signature(s) from packages.", SignTool::deleteCommand}},
        {"extract-cert", {"Extract certificate from package.", SignTool::extractCertCommand}},
        {"dumpdb", {"Show certificates database content.", SignTool::dumpDbCommand}},
        {"info", {"Show information about certificate.", SignTool::infoCommand}},
        {"issyscert", {"Check whether certifiate is system developer one.", SignTool::isSysCertCommand}},
        {"makecertca", {"Make self-signed (CA) certificate.", SignTool::makeCertCaCommand}},
        {"makecert", {"Make end-user certificate.", SignTool::makeCertCommand}},
        {"verify-cert", {"Verify certificate authority.", SignTool::verifyCertCommand}},
    };
    return table;
}

QString commandListing()
{
    QString listing = "Supported commands are:";
    for (const auto& [name, command] : commandTable())
        listing += "\n" + name.leftJustified(14, ' ') + command.description;
    return listing;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("torvel");
    QCoreApplication::setApplicationVersion("0.9.5");

    QCommandLineParser parser;
    parser.setApplicationDescription("Tool for dealing with package signatures.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("command", commandListing());

    if (argc < 2)
        parser.showHelp(1);

    const QStringList arguments = QCoreApplication::arguments();
    const bool parsed = parser.parse(arguments);
    const QString name = parser.positionalArguments().value(0);

    if (!name.isEmpty()) {
        const auto command = commandTable().find(name);
        if (command == commandTable().end()) {
            SignTool::standardError() << "Unknown command \"" << name << "\"\n" << Qt::flush;
            return 1;
        }
        // The handler sees its command name where a program name would be,
        // and its own options and positional arguments after it.
        parser.clearPositionalArguments();
        parser.addPositionalArgument(name, QString(), name + " [command options]");
        return command->second.handler(parser, arguments.mid(arguments.indexOf(name)));
    }
    if (!parsed) {
        SignTool::standardError() << parser.errorText() << "\n" << Qt::flush;
        return 1;
    }
    parser.process(arguments);
    return 0;
}
