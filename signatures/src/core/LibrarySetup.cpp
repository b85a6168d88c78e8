// Process-wide OpenSSL setup, run once when the library is loaded and before
// any other use, so every later lookup of the private identifiers and every
// GOST key or digest works without callers having to initialise anything.
// The random generator is seeded later, on its first use (core/RandomSeed.h).

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include "common/OpenSslHandles.h"
#include "core/EnvironmentFiles.h"
#include "core/Oids.h"
#include "core/PrivateKeys.h"
#include "core/RandomSeed.h"

namespace PackageSignatures::Oids {

namespace {

struct Registration {
    const char* oid;
    const char* shortName;
    const char* longName;
};

// Registered in this order; the assigned identifiers follow it.
constexpr Registration registrations[] = {
    {"1.2.643.2.81.1.1.1", "packageSigning", "Package Signing Extended Key Usage"},
    {"1.2.643.2.81.1.2.1", "certificateGroup", "Certificate Group"},
    {"1.2.643.2.81.1.3.1", "packageFileSignatures", "Package File Signatures"},
    {"1.2.643.2.81.1.3.2", "rotationChain", "Key Rotation Chain"},
    {"1.2.643.2.81.1.3.3", "packageTrustletSignatures", "Package Trustlet Signatures"},
};

// Mutable library state, written once by the load-time setup (as is the
// token-key slot of core/PrivateKeys.cpp).
int registeredNids[std::size(registrations)] = {};

// OpenSSL reads its configuration file at its first use, with a blocking
// fopen; one that is not a regular file is not read at all.
void keepConfigurationFromBlocking()
{
    std::string failure;
    if (openSslConfigurationOpenable(failure))
        return;
    std::fprintf(stderr, "OpenSSL's configuration is not loaded: %s\n", failure.c_str());
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
}

void registerObjectIdentifiers()
{
    for (size_t i = 0; i < std::size(registrations); ++i)
        registeredNids[i] = OBJ_create(registrations[i].oid, registrations[i].shortName, registrations[i].longName);
    // The group extension is an IA5String exactly like the Netscape comment,
    // so it borrows that extension's method for creating and printing.
    if (X509V3_EXT_add_alias(registeredNids[1], NID_netscape_comment) != 1)
        std::fprintf(stderr, "Could not register X509 alias\n");
}

void loadGostEngine()
{
    ENGINE_load_builtin_engines();
    std::string failure;
    if (!engineModuleOpenable("gost", failure)) {
        std::fprintf(stderr, "The 'gost' engine is not loaded: %s\n", failure.c_str());
        std::fprintf(stderr, "The 'gost' engine isn't available\n");
        return;
    }
    Common::OpenSsl::EngineHandle engine(ENGINE_by_id("gost"));
    if (!engine) {
        std::fprintf(stderr, "The 'gost' engine isn't available\n");
        return;
    }
    if (ENGINE_init(engine.get()) == 1) {
        ENGINE_set_default(engine.get(), 0xFFFF);
        ENGINE_finish(engine.get());
    } else {
        std::fprintf(stderr, "Could not initialize 'gost' engine\n");
    }
}

__attribute__((constructor)) void setUpLibrary()
{
    keepConfigurationFromBlocking();
    registerObjectIdentifiers();
    loadGostEngine();
    PackageSignatures::registerTokenKeySlot();
}

} // namespace

int packageSigning() { return registeredNids[0]; }
int certificateGroup() { return registeredNids[1]; }
int packageFileSignatures() { return registeredNids[2]; }
int rotationChain() { return registeredNids[3]; }
int packageTrustletSignatures() { return registeredNids[4]; }

} // namespace PackageSignatures::Oids

namespace PackageSignatures {

void seedRandomGenerator()
{
    static std::once_flag seeded;
    std::call_once(seeded, [] {
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        const int64_t nanoseconds = now.tv_nsec;
        RAND_seed(&nanoseconds, sizeof nanoseconds);
    });
}

} // namespace PackageSignatures
