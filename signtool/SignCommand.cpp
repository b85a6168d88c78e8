// The sign command: one job per package on threads of its own, all joined
// before the command returns. The jobs share only read-only keys and
// certificates, a failure flag and a progress counter; each opens its own
// file.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <optional>

#include <fnmatch.h>

#include <openssl/crypto.h>

#include <QDebug>
#include <QDirIterator>
#include <QFileInfo>
#include <QThread>

#include <torvel/Certificate.h>
#include <torvel/CertificateFunctions.h>
#include <torvel/FileWithCmses.h>
#include <torvel/PackageFileFunctions.h>

#include "ArgumentBytes.h"
#include "Commands.h"
#include "PackageHeader.h"
#include "ParallelJobs.h"
#include "Reasons.h"
#include "common/OpenSslHandles.h"
#include "TorvelHandles.h"

using PackageSignatures::FileWithCmses;

namespace SignTool {

namespace {

// By name, which is also the order they are listed in.
const std::map<QString, unsigned>& taAlgorithms()
{
    static const std::map<QString, unsigned> algorithms {
        {"RSASSA_PKCS1_PSS_MGF1_SHA256", TA_ALGORITHM_RSASSA_PKCS1_PSS_MGF1_SHA256},
        {"RSASSA_PKCS1_V1_5_SHA256", TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256},
    };
    return algorithms;
}

QString taAlgorithmNames()
{
    QStringList names;
    for (const auto& [name, identifier] : taAlgorithms())
        names << name;
    return names.join(", ");
}

// The value of a passphrase variable; null when it is unset, so that
// OpenSSL asks on the terminal for an encrypted key. For a key in a token
// (a pkcs11: URI) it is the PIN, unless the URI carries one.
std::optional<QByteArray> passphrase(const char* variable)
{
    if (!qEnvironmentVariableIsSet(variable))
        return std::nullopt;
    return qgetenv(variable);
}

Common::OpenSsl::EvpPkeyHandle readKey(const QString& path, const char* passphraseVariable)
{
    const std::optional<QByteArray> secret = passphrase(passphraseVariable);
    return Common::OpenSsl::EvpPkeyHandle(
        private_key_read(argumentBytes(path).constData(), secret ? secret->constData() : nullptr));
}

// What every job reads and nothing writes.
struct SigningSetup {
    Common::OpenSsl::X509Handle certificate;
    // What the reasons of a refusal name.
    PackageSignatures::CertificateDetails signer;
    Common::OpenSsl::EvpPkeyHandle key;
    Common::OpenSsl::EvpPkeyHandle taKey;
    unsigned taAlgorithm = TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256;
    Common::Torvel::ProofOfRotationChainHandle chain;
    bool force = false;
    QByteArray noContentSignGlob;
    int total = 0;
    // Threads that sign the files of one package at once.
    unsigned fileSigningThreads = 1;
};

struct SigningProgress {
    std::atomic<int> failed {0};
    std::atomic<int> counter {1};
};

// Content is signed unless the glob matches the package's name; an error
// of the matcher counts as a match.
bool signsContent(const SigningSetup& setup, Header header)
{
    if (setup.noContentSignGlob.isEmpty())
        return true;
    const char* name = headerGetString(header, RPMTAG_NAME);
    return fnmatch(setup.noContentSignGlob.constData(), name ? name : "", FNM_EXTMATCH) == FNM_NOMATCH;
}

// The path as the progress and failure lines show it: in double quotes, with
// what cannot be printed escaped. Written without the message log's own
// quoting, which would show a byte that is not UTF-8 as another character.
QString quotedPath(const QString& path)
{
    return "\"" + visible(path) + "\"";
}

// The blocks of other signers' groups that replacing removed (a
// laboratory's or a client's under a developer's new block); the signer's
// own block is what replacing is for.
QString removedOtherSigners(const PackageSignatures::SigningOutcome& outcome)
{
    QStringList others;
    for (const PackageSignatures::BlockSigner& block : outcome.removedBlocks()) {
        if (block.group != outcome.signerGroup)
            others << "block " + QString::number(block.index + 1) + " by " + signerLabel(block.group, block.subject);
    }
    if (others.isEmpty())
        return {};
    return (others.size() == 1 ? "signature of another signer: " : "signatures of other signers: ") + others.join(", ");
}

void signPackage(const SigningSetup& setup, SigningProgress& progress, const QString& path)
{
    // After the first failure no further package is started.
    if (progress.failed.load())
        return;
    const std::unique_ptr<FileWithCmses> file = FileWithCmses::fromPath(argumentBytes(path).constData());
    if (!file) {
        qWarning().noquote() << quotedPath(path) + " cannot be read: " + unreadableReason(path);
        qWarning().noquote() << "Could not open file" << quotedPath(path);
        progress.failed.store(1);
        return;
    }
    if (!file->isRpmPackage()) {
        qWarning().noquote() << "File" << quotedPath(path) << "doesn't looks like RPM package";
        progress.failed.store(1);
        return;
    }
    Common::Rpm::HeaderHandle header = readPackageHeader(*file);
    if (!header) {
        progress.failed.store(1);
        return;
    }
    const char* compressor = headerGetString(header.get(), RPMTAG_PAYLOADCOMPRESSOR);
    const bool zstd = compressor != nullptr && std::strcmp(compressor, "zstd") == 0;
    const bool signFiles = signsContent(setup, header.get());
    // Signing reads the header again; a package of many files would
    // otherwise hold two copies of it.
    header.reset();
    const PackageSignatures::SigningOutcome outcome =
        file->signWithOutcome(setup.certificate.get(), setup.key.get(), setup.taKey.get(), setup.taAlgorithm,
                              setup.chain.get(), setup.force, zstd, signFiles, setup.fileSigningThreads);
    if (!outcome.succeeded()) {
        const QString reason = signingRefusalReason(outcome, setup.signer, setup.force);
        if (!reason.isEmpty())
            qWarning().noquote() << quotedPath(path) + ": " + reason;
        qWarning().noquote() << "Could not sign" << quotedPath(path);
        progress.failed.store(1);
        return;
    }
    const QString removed = removedOtherSigners(outcome);
    if (!removed.isEmpty())
        qWarning().noquote() << quotedPath(path) + ": replacing removed the " + removed;
    qInfo().noquote() << "Signed (" << progress.counter.fetch_add(1) << "/" << setup.total << ")" << quotedPath(path);
}

// The packages named on the command line, or nullopt after reporting why
// nothing may be signed.
std::optional<QStringList> collectPackages(const QStringList& paths, bool recursive)
{
    QStringList packages;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isFile()) {
            packages << path;
            continue;
        }
        if (!info.exists()) {
            standardError() << visible(path) << " does not exist.\n" << Qt::flush;
            return std::nullopt;
        }
        if (!info.isDir()) {
            standardError() << visible(path) << " is neither a file nor a directory.\n" << Qt::flush;
            return std::nullopt;
        }
        if (!recursive) {
            standardError() << visible(path) << " is a directory. Use -R option to run recursively.\n" << Qt::flush;
            return std::nullopt;
        }
        // Matched here rather than by a name filter of the iterator: Qt
        // matches those as Unicode patterns, which never match a name that
        // is not UTF-8. Like Qt's filter, the match ignores case.
        QDirIterator found(path, QDir::Files, QDirIterator::Subdirectories);
        while (found.hasNext()) {
            const QString file = found.next();
            if (found.fileName().endsWith(".rpm", Qt::CaseInsensitive))
                packages << file;
        }
    }
    return packages;
}

} // namespace

int signCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    // One thread per processor thread unless --jobs says otherwise.
    int maximumJobs = std::max(1, QThread::idealThreadCount());
    const QCommandLineOption keyOption({"k", "key"},
                                       "User private key for signing the package. If key is encrypted, it's possible "
                                       "to provide passphrase via KEY_PASSPHRASE environment variable to suppress "
                                       "prompt on terminal.",
                                       "key");
    const QCommandLineOption certOption({"c", "cert"}, "Certificate to be used in signature.", "cert");
    const QCommandLineOption rotateOption({"r", "rotate"}, "Path to proof-of-rotation chain.", "proof");
    const QCommandLineOption forceOption(
        {"f", "force"}, "Remove all previous signatures up to signature with certificate of provided type.");
    const QCommandLineOption recursiveOption({"R", "recursive"},
                                             "Run recursively on all *.rpm files in provided paths.");
    const QCommandLineOption jobsOption(
        {"j", "jobs"},
        "Maximum amount of jobs to run in parallel (default " + QString::number(maximumJobs) + ").",
        "jobs");
    const QCommandLineOption noContentSignOption(
        "no-content-sign",
        "Don't sign content in packages with names specified by glob (not file name), see glob(7) man page for "
        "format.",
        "glob");
    const QCommandLineOption taKeyOption("ta-key", "A private key used for signing OP-TEE TAs", "ta-key", "");
    const QCommandLineOption taAlgorithmOption(
        "ta-sign-algo",
        "Signing algorithm for TA. Options: RSASSA_PKCS1_V1_5_SHA256 (default), RSASSA_PKCS1_PSS_MGF1_SHA256",
        "ta-sign-algo", "RSASSA_PKCS1_V1_5_SHA256");
    parser.addOptions({keyOption, certOption, rotateOption, forceOption, recursiveOption, jobsOption,
                       noContentSignOption, taKeyOption, taAlgorithmOption});
    parser.addPositionalArgument("paths", "Files or directories to sign.", "[paths...]");
    parser.process(arguments);
    requireOptions(parser, {"key", "cert"});

    SigningSetup setup;
    const QString taKeyPath = parser.value(taKeyOption);
    const QString taAlgorithmName = parser.value(taAlgorithmOption);
    if (!taKeyPath.isEmpty()) {
        const auto algorithm = taAlgorithms().find(taAlgorithmName);
        if (algorithm == taAlgorithms().end()) {
            standardError() << "Unknown TA signing algorithm \"" << visible(taAlgorithmName)
                            << "\" (possible values: " << taAlgorithmNames() << ").\n"
                            << Qt::flush;
            return 1;
        }
        setup.taAlgorithm = algorithm->second;
    }
    // Refused before any key is read, so no passphrase is asked for in vain.
    std::optional<int> jobs;
    if (parser.isSet(jobsOption)) {
        bool number = false;
        const int value = parser.value(jobsOption).toInt(&number);
        if (!number || value < 1) {
            standardError() << "Option '--jobs' needs a positive integer, got \"" << visible(parser.value(jobsOption))
                            << "\".\n"
                            << Qt::flush;
            return 1;
        }
        jobs = value;
    }

    setup.certificate.reset(certificate_read(argumentBytes(parser.value(certOption)).constData()));
    if (!setup.certificate)
        return 1;
    setup.signer = PackageSignatures::Certificate::detailsOf(setup.certificate.get());
    // A chain that was named but cannot be read ends the command too, and
    // before any key, so no passphrase is asked for in vain: blocks signed
    // without it would not let the packages replace those of the old key.
    if (parser.isSet(rotateOption)) {
        setup.chain.reset(ProofOfRotationChain_read(argumentBytes(parser.value(rotateOption)).constData()));
        if (!setup.chain)
            return 1;
    }
    setup.key = readKey(parser.value(keyOption), "KEY_PASSPHRASE");
    if (!setup.key)
        return 1;
    // A TA key that was named but cannot be read (a wrong token PIN, say)
    // ends the command before any package is touched, like the signing key.
    if (!taKeyPath.isEmpty()) {
        setup.taKey = readKey(taKeyPath, "TA_KEY_PASSPHRASE");
        if (!setup.taKey)
            return 1;
    }
    setup.force = parser.isSet(forceOption);
    // Matched against the NAME bytes of the header, so taken as typed.
    setup.noContentSignGlob = argumentBytes(parser.value(noContentSignOption));
    if (jobs)
        maximumJobs = *jobs;

    std::optional<QStringList> packages = collectPackages(parser.positionalArguments(), parser.isSet(recursiveOption));
    if (!packages)
        return 1;
    setup.total = int(packages->size());
    // The jobs are shared out: one thread per package while there are more
    // packages than jobs, and the rest of the budget signs the files inside
    // each package. Decompressing and digesting a payload is one more
    // thread of a package, mostly waiting for its signers.
    const size_t packageThreads = std::max<size_t>(1, std::min(size_t(maximumJobs), size_t(packages->size())));
    setup.fileSigningThreads = unsigned(std::max<size_t>(1, size_t(maximumJobs) / packageThreads));

    // Never more threads than packages. Each thread lets go of OpenSSL's
    // state for it before it ends, and all are joined here, so no thread
    // is still tearing down while the process exits.
    SigningProgress progress;
    runInParallel(
        size_t(packages->size()), packageThreads,
        [&](size_t index) { signPackage(setup, progress, packages->at(int(index))); },
        [] { OPENSSL_thread_stop(); });
    return progress.failed.load() ? 1 : 0;
}

} // namespace SignTool
