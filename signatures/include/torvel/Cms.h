#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "torvel/Certificate.h"
#include "torvel/Export.h"
#include "torvel/RotationChain.h"

namespace PackageSignatures {

// One signature block: its DER bytes, and what is derived from them on first
// use. A block that does not parse yields empty values, never an error.
class TORVEL_EXPORT Cms {
public:
    explicit Cms(const std::vector<uint8_t>& der);
    // The copy gets its own caches, derived again on demand.
    Cms(const Cms& other);
    Cms& operator=(const Cms& other);
    ~Cms();

    std::vector<uint8_t> data() const;
    size_t size() const;
    bool operator==(const Cms& other) const;

    void assign(const std::vector<uint8_t>& der);
    void assignRaw(const unsigned char* der, size_t len);

    std::shared_ptr<Certificate> certificate() const;
    std::shared_ptr<RotationChain> rotationChain() const;
    std::string signature() const;
    // The signingTime signed attribute, seconds since the epoch.
    std::optional<int64_t> signingTime() const;
    // The integrity-subsystem signature of the file at this header index.
    std::vector<uint8_t> fileSignature(int index) const;
    // The hexadecimal signed trusted-application header of that file.
    std::vector<uint8_t> trustletSignature(int index) const;
    // The file indexes with a signature of either kind, ascending: what a
    // reader walks instead of every file of the package, which would cost
    // the package's file count once per block.
    std::vector<long> signedFileIndexes() const;

private:
    struct Record;
    std::unique_ptr<Record> m_record;
};

// The first block, when its signer is a developer.
TORVEL_EXPORT std::optional<Cms> developerCmsFromVector(const std::vector<Cms>& cmses);
// The last block, when its signer is a client.
TORVEL_EXPORT std::optional<Cms> clientCmsFromVector(const std::vector<Cms>& cmses);

} // namespace PackageSignatures
