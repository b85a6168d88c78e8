// The floor of signing the files of a package: for every regular file of an
// uncompressed cpio archive (as rpm2cpio writes it), one pass of the key's
// default digest (SHA-256 for RSA, GOST R 34.11-2012 for GOST keys, through
// the gost engine) over its content and one signature of that digest with
// the key, on one thread. Nothing else: no package, no CMS, no archive
// reader.
//
//   bench_signing_floor ARCHIVE.cpio KEY.pem

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {

bool readExactly(FILE* in, unsigned char* buffer, size_t len)
{
    return std::fread(buffer, 1, len, in) == len;
}

unsigned long field(const char* header, int index)
{
    return std::strtoul(std::string(header + 6 + 8 * index, 8).c_str(), nullptr, 16);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE.cpio KEY.pem\n", argv[0]);
        return 2;
    }
    // GOST keys and digests come from the engine, as in the library.
    ENGINE_load_builtin_engines();
    if (ENGINE* gost = ENGINE_by_id("gost")) {
        if (ENGINE_init(gost) == 1) {
            ENGINE_set_default(gost, ENGINE_METHOD_ALL);
            ENGINE_finish(gost);
        }
        ENGINE_free(gost);
    }
    FILE* keyFile = std::fopen(argv[2], "r");
    EVP_PKEY* key = keyFile ? PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr) : nullptr;
    FILE* in = std::fopen(argv[1], "rb");
    if (key == nullptr || in == nullptr)
        return 2;
    int digestNid = NID_undef;
    const EVP_MD* md = EVP_PKEY_get_default_digest_nid(key, &digestNid) > 0 ? EVP_get_digestbynid(digestNid) : nullptr;
    if (md == nullptr && digestNid != NID_undef) {
        if (ENGINE* engine = ENGINE_get_digest_engine(digestNid)) {
            md = ENGINE_get_digest(engine, digestNid);
            ENGINE_finish(engine);
        }
    }
    EVP_PKEY_CTX* signing = md ? EVP_PKEY_CTX_new(key, nullptr) : nullptr;
    if (signing == nullptr || EVP_PKEY_sign_init(signing) <= 0 || EVP_PKEY_CTX_set_signature_md(signing, md) <= 0)
        return 2;
    EVP_MD_CTX* digest = EVP_MD_CTX_new();
    std::vector<unsigned char> piece(65536);
    long files = 0;
    for (;;) {
        char header[110];
        if (!readExactly(in, reinterpret_cast<unsigned char*>(header), sizeof header))
            return 1;
        const unsigned long mode = field(header, 1);
        const unsigned long size = field(header, 6);
        const unsigned long nameSize = field(header, 11);
        std::vector<unsigned char> name((110 + nameSize + 3) / 4 * 4 - 110);
        if (!readExactly(in, name.data(), name.size()))
            return 1;
        if (std::string(reinterpret_cast<char*>(name.data())) == "TRAILER!!!")
            break;
        const bool regular = (mode & 0170000) == 0100000;
        EVP_DigestInit_ex(digest, md, nullptr);
        for (unsigned long left = size; left > 0;) {
            const size_t want = left < piece.size() ? left : piece.size();
            if (!readExactly(in, piece.data(), want))
                return 1;
            EVP_DigestUpdate(digest, piece.data(), want);
            left -= want;
        }
        unsigned char padding[4];
        if (!readExactly(in, padding, (4 - size % 4) % 4))
            return 1;
        if (!regular)
            continue;
        unsigned char hash[EVP_MAX_MD_SIZE];
        unsigned hashLength = 0;
        EVP_DigestFinal_ex(digest, hash, &hashLength);
        unsigned char signature[1024];
        size_t signatureLength = sizeof signature;
        if (EVP_PKEY_sign(signing, signature, &signatureLength, hash, hashLength) != 1)
            return 1;
        ++files;
    }
    std::printf("%ld files signed\n", files);
    return 0;
}
