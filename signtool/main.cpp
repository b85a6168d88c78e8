// torvel: the command-line front end of libtorvel.

#include <map>

#include <QCoreApplication>
#include <QCommandLineParser>
#include <QString>

#include "ArgumentBytes.h"
#include "Commands.h"

namespace {

struct Command {
    QString summary;     // its line in the listing of `torvel --help`
    QString explanation; // the sentence that opens `torvel COMMAND --help`
    SignTool::CommandHandler handler;
};

// Listed in the help in name order, which is the map's order.
const std::map<QString, Command>& commandTable()
{
    static const std::map<QString, Command> table {
        {"sign",
         {"Sign packages.",
          "Appends a signature block to each package (the developer's first, then a laboratory's or a client's), "
          "with signatures of the files inside when it is the developer's block of an RPM package.",
          SignTool::signCommand}},
        {"rotate",
         {"Rotate keys.",
          "Writes a proof-of-rotation chain in which the old key vouches for the new one, so that packages signed "
          "with the new key may replace those signed with the old.",
          SignTool::rotateCommand}},
        {"verify",
         {"Verify package signatures.",
          "Checks every signature block of each package against the root certificate bundle, the bytes it covers "
          "and its signer's position.",
          SignTool::verifyCommand}},
        {"dump",
         {"Dump information about signatures in packages.",
          "Prints the signer, the key rotations and the signature of every signature block of each package.",
          SignTool::dumpCommand}},
        {"delete",
         {"Delete signature(s) from packages.",
          "Removes the signature blocks from each package, all of them or only the last, so that it holds the bytes "
          "it held before it was signed.",
          SignTool::deleteCommand}},
        {"extract-cert",
         {"Extract certificate from package.",
          "Saves the signer certificate of a package's first (or last) signature block as a PEM file.",
          SignTool::extractCertCommand}},
        {"dumpdb",
         {"Show certificates database content.",
          "Prints what the trust database holds: the installed packages with their signers, the certificates, or "
          "the revoked key ids.",
          SignTool::dumpDbCommand}},
        {"info",
         {"Show information about certificate.", "Prints the subject, group, subgroup and key id of each certificate.",
          SignTool::infoCommand}},
        {"issyscert",
         {"Check whether certificate is system developer's.",
          "Tells whether each certificate is the system developer's, whose key id the configuration names.",
          SignTool::isSysCertCommand}},
        {"makecertca",
         {"Make self-signed (CA) certificate.", "Issues a self-signed CA certificate for a private key.",
          SignTool::makeCertCaCommand}},
        {"makecert",
         {"Make end-user certificate.",
          "Issues a certificate of a signer group (developer, seclab or client) for a certificate signing request, "
          "signed with a CA's key.",
          SignTool::makeCertCommand}},
        {"verify-cert",
         {"Verify certificate authority.", "Checks that a certificate was issued by a CA of the given bundle.",
          SignTool::verifyCertCommand}},
    };
    return table;
}

// Qt prints the description as it is given; wrapped here at the width Qt
// gives its own option texts.
QString wrapped(const QString& text)
{
    constexpr int width = 79;
    QString result;
    int lineLength = 0;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        if (lineLength > 0 && lineLength + 1 + word.size() > width) {
            result += '\n';
            lineLength = 0;
        } else if (lineLength > 0) {
            result += ' ';
            ++lineLength;
        }
        result += word;
        lineLength += int(word.size());
    }
    return result;
}

QString commandListing()
{
    QString listing = "Supported commands are:";
    for (const auto& [name, command] : commandTable())
        listing += "\n" + name.leftJustified(14, ' ') + command.summary;
    return listing;
}

} // namespace

int main(int argc, char* argv[])
{
    // Before anything decodes an argument or a file name.
    SignTool::installByteExactLocaleCodec();
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
            SignTool::standardError() << "Unknown command \"" << SignTool::visible(name) << "\"\n" << Qt::flush;
            return 1;
        }
        // The handler sees its command name where a program name would be,
        // and its own options and positional arguments after it.
        parser.clearPositionalArguments();
        parser.setApplicationDescription(wrapped(command->second.explanation));
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
