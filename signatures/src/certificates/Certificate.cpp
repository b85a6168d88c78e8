#include "torvel/Certificate.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <openssl/pem.h>

#include "certificates/CertificateFacts.h"
#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "core/RegularFile.h"
#include "core/ReplacingFile.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/Configuration.h"
#include "torvel/FileWithCmses.h"

namespace PackageSignatures {

struct Certificate::Record {
    Common::OpenSsl::X509Handle x509;
    std::string subject;
    std::string keyId;
    Group group = GroupNone;
    Subgroup subgroup = SubgroupNone;
};

namespace {

std::string takeString(char* text)
{
    const Common::Libc::CStringHandle owned(text);
    return owned ? std::string(owned.get()) : std::string();
}

} // namespace

Certificate::Certificate(X509* certificate)
    : m_record(std::make_unique<Record>())
{
    if (certificate == nullptr || X509_up_ref(certificate) != 1)
        return;
    m_record->x509.reset(certificate);
    m_record->subject = takeString(certificate_get_subject(certificate));
    m_record->keyId = takeString(certificate_get_keyid(certificate));
    const Common::Libc::CStringHandle groupText(certificate_get_group(certificate));
    m_record->group = groupFromString(groupText.get());
    m_record->subgroup = subgroupFromString(groupText.get());
}

Certificate Certificate::quietly(X509* certificate)
{
    Certificate quiet(nullptr);
    if (certificate == nullptr || X509_up_ref(certificate) != 1)
        return quiet;
    quiet.m_record->x509.reset(certificate);
    const CertificateDetails details = certificateDetails(certificate);
    quiet.m_record->subject = details.subject;
    quiet.m_record->keyId = subjectKeyIdText(certificate);
    quiet.m_record->group = groupFromString(details.groupText.c_str());
    quiet.m_record->subgroup = subgroupFromString(details.groupText.c_str());
    return quiet;
}

Certificate::Certificate(const Certificate& other)
    : m_record(std::make_unique<Record>())
{
    if (other.m_record->x509 && X509_up_ref(other.m_record->x509.get()) == 1)
        m_record->x509.reset(other.m_record->x509.get());
    m_record->subject = other.m_record->subject;
    m_record->keyId = other.m_record->keyId;
    m_record->group = other.m_record->group;
    m_record->subgroup = other.m_record->subgroup;
}

Certificate& Certificate::operator=(Certificate&& other) noexcept
{
    std::swap(m_record, other.m_record);
    return *this;
}

Certificate::~Certificate() = default;

Certificate Certificate::fromDer(const unsigned char* data, size_t len)
{
    const unsigned char* cursor = data;
    const Common::OpenSsl::X509Handle certificate(data == nullptr ? nullptr : d2i_X509(nullptr, &cursor, long(len)));
    if (!certificate)
        std::fprintf(stderr, "Could not decode X.509 certificate\n");
    return Certificate(certificate.get());
}

Certificate Certificate::readCertificateFromFile(const char* path)
{
    const Common::OpenSsl::X509Handle certificate(certificate_read(path));
    return Certificate(certificate.get());
}

std::vector<Certificate> Certificate::allFromFilePath(const char* path)
{
    std::vector<Certificate> certificates;
    const std::unique_ptr<FileWithCmses> file = FileWithCmses::fromPath(path);
    if (!file)
        return certificates;
    for (const Cms& cms : file->cmses())
        certificates.push_back(*cms.certificate());
    return certificates;
}

X509* Certificate::x509() const
{
    return m_record->x509.get();
}

std::vector<uint8_t> Certificate::toDer() const
{
    unsigned char* der = nullptr;
    const int length = m_record->x509 ? i2d_X509(m_record->x509.get(), &der) : -1;
    const Common::OpenSsl::BytesHandle owned(der);
    if (length <= 0) {
        std::fprintf(stderr, "Could not encode X.509 certificate\n");
        return {};
    }
    return std::vector<uint8_t>(owned.get(), owned.get() + length);
}

const std::string& Certificate::subject() const
{
    return m_record->subject;
}

const std::string& Certificate::keyId() const
{
    return m_record->keyId;
}

Group Certificate::group() const
{
    return m_record->group;
}

Subgroup Certificate::subgroup() const
{
    return m_record->subgroup;
}

CertificateDetails Certificate::details() const
{
    return certificateDetails(m_record->x509.get());
}

CertificateDetails Certificate::detailsOf(X509* certificate)
{
    return certificateDetails(certificate);
}

bool Certificate::saveAsPem(const char* path) const
{
    if (!m_record->x509) {
        std::fprintf(stderr, "Could not save X.509 certificate\n");
        return false;
    }
    const std::unique_ptr<ReplacingFile> output = ReplacingFile::create(path == nullptr ? "" : path);
    if (!output) {
        std::fprintf(stderr, "Could not open \"%s\" for writing: %s\n", path ? path : "", std::strerror(errno));
        return false;
    }
    if (PEM_write_X509(output->stream(), m_record->x509.get()) != 1 || !output->commit()) {
        std::fprintf(stderr, "Could not save X.509 certificate\n");
        return false;
    }
    return true;
}

bool Certificate::verify(const char* caPath) const
{
    const Common::OpenSsl::X509StoreHandle store(certificate_store_read(caPath));
    if (!store)
        return false;
    if (!m_record->x509) {
        std::fprintf(stderr, "No certificate to verify\n");
        return false;
    }
    return certificate_verify(m_record->x509.get(), store.get()) == 1;
}

bool Certificate::isSystemDeveloperCertificate() const
{
    const Configuration configuration;
    std::string failure;
    // A key id is a line of hexadecimal text; the limit only bounds what a
    // wrong path could make the library read.
    const std::optional<std::string> text =
        readRegularFile(configuration.systemDeveloperKeyIdPath().c_str(), 1 << 16, failure);
    if (!text) {
        std::fprintf(stderr, "Couldn't retrieve system developer key id\n");
        return false;
    }
    const std::string systemKeyId = text->substr(0, text->find('\n'));
    // A certificate that could not be read has no key id; it must not match
    // an empty first line.
    return !m_record->keyId.empty() && systemKeyId == m_record->keyId;
}

std::string defaultCaPath()
{
    return Configuration().caPath();
}

} // namespace PackageSignatures
