#include "torvel/Cms.h"

#include <map>

#include "cms/CmsReading.h"
#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "TorvelHandles.h"
#include "torvel/CmsFunctions.h"

namespace PackageSignatures {

using SignatureTable = std::map<long, std::vector<uint8_t>>;

// Everything but the DER is derived from it at most once, on first use.
struct Cms::Record {
    std::vector<uint8_t> der;
    bool parseAttempted = false;
    Common::OpenSsl::CmsHandle parsed;
    std::optional<SignatureTable> fileSignatures;
    std::optional<SignatureTable> trustletSignatures;
    std::shared_ptr<Certificate> certificate;
    std::shared_ptr<RotationChain> rotationChain;

    CMS_ContentInfo* cms()
    {
        if (!parseAttempted) {
            parseAttempted = true;
            parsed.reset(cms_from_der(der.data(), long(der.size())));
        }
        return parsed.get();
    }

    const SignatureTable& table(std::optional<SignatureTable>& cache, int kind)
    {
        if (cache)
            return *cache;
        cache.emplace();
        CMS_ContentInfo* content = cms();
        const Common::Torvel::FileSignaturesHandle signatures(
            content ? cms_get_file_signatures(content, kind) : nullptr);
        for (int i = 0; i < FileSignatures_count(signatures.get()); ++i) {
            const FileSignature* signature = FileSignatures_get0_at(signatures.get(), i);
            int length = 0;
            const unsigned char* value = FileSignature_value(signature, &length);
            // emplace keeps the first entry of an index that occurs twice
            cache->emplace(FileSignature_index(signature),
                           value ? std::vector<uint8_t>(value, value + length) : std::vector<uint8_t>());
        }
        return *cache;
    }
};

namespace {

std::vector<uint8_t> lookUp(const SignatureTable& table, int index)
{
    const auto found = table.find(index);
    return found == table.end() ? std::vector<uint8_t>() : found->second;
}

} // namespace

Cms::Cms(const std::vector<uint8_t>& der)
    : m_record(std::make_unique<Record>())
{
    m_record->der = der;
}

Cms::Cms(const Cms& other)
    : Cms(other.m_record->der)
{
}

Cms& Cms::operator=(const Cms& other)
{
    if (this != &other)
        assign(other.m_record->der);
    return *this;
}

Cms::~Cms() = default;

std::vector<uint8_t> Cms::data() const
{
    return m_record->der;
}

size_t Cms::size() const
{
    return m_record->der.size();
}

bool Cms::operator==(const Cms& other) const
{
    return m_record->der == other.m_record->der;
}

void Cms::assign(const std::vector<uint8_t>& der)
{
    assignRaw(der.data(), der.size());
}

void Cms::assignRaw(const unsigned char* der, size_t len)
{
    auto fresh = std::make_unique<Record>();
    if (der != nullptr)
        fresh->der.assign(der, der + len);
    m_record = std::move(fresh);
}

std::shared_ptr<Certificate> Cms::certificate() const
{
    if (!m_record->certificate) {
        CMS_ContentInfo* content = m_record->cms();
        m_record->certificate = std::make_shared<Certificate>(content ? cms_get_certificate(content) : nullptr);
    }
    return m_record->certificate;
}

std::shared_ptr<RotationChain> Cms::rotationChain() const
{
    if (!m_record->rotationChain) {
        CMS_ContentInfo* content = m_record->cms();
        const Common::Torvel::ProofOfRotationChainHandle chain(content ? cms_get_rotation_chain(content) : nullptr);
        m_record->rotationChain = std::make_shared<RotationChain>(chain.get());
    }
    return m_record->rotationChain;
}

std::optional<int64_t> Cms::signingTime() const
{
    return PackageSignatures::signingTime(m_record->cms());
}

std::string Cms::signature() const
{
    CMS_ContentInfo* content = m_record->cms();
    const Common::Libc::CStringHandle text(content ? cms_get_signature(content) : nullptr);
    return text ? std::string(text.get()) : std::string();
}

std::vector<uint8_t> Cms::fileSignature(int index) const
{
    return lookUp(m_record->table(m_record->fileSignatures, CMS_FILE_SIGNATURES_IMA), index);
}

std::vector<uint8_t> Cms::trustletSignature(int index) const
{
    return lookUp(m_record->table(m_record->trustletSignatures, CMS_FILE_SIGNATURES_TA), index);
}

std::vector<long> Cms::signedFileIndexes() const
{
    const SignatureTable& ordinary = m_record->table(m_record->fileSignatures, CMS_FILE_SIGNATURES_IMA);
    const SignatureTable& trustlets = m_record->table(m_record->trustletSignatures, CMS_FILE_SIGNATURES_TA);
    std::vector<long> indexes;
    indexes.reserve(ordinary.size() + trustlets.size());
    // Both tables are ordered by index: merge them.
    auto a = ordinary.begin();
    auto b = trustlets.begin();
    while (a != ordinary.end() || b != trustlets.end()) {
        if (b == trustlets.end() || (a != ordinary.end() && a->first < b->first))
            indexes.push_back((a++)->first);
        else if (a == ordinary.end() || b->first < a->first)
            indexes.push_back((b++)->first);
        else {
            indexes.push_back(a->first);
            ++a;
            ++b;
        }
    }
    return indexes;
}

std::optional<Cms> developerCmsFromVector(const std::vector<Cms>& cmses)
{
    if (cmses.empty() || cmses.front().certificate()->group() != GroupDeveloper)
        return std::nullopt;
    return cmses.front();
}

std::optional<Cms> clientCmsFromVector(const std::vector<Cms>& cmses)
{
    if (cmses.empty() || cmses.back().certificate()->group() != GroupClient)
        return std::nullopt;
    return cmses.back();
}

} // namespace PackageSignatures
