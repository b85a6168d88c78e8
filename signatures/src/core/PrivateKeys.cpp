#include "core/PrivateKeys.h"
#include "core/RandomSeed.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <strings.h>

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ui.h>

#include "common/VisibleText.h"
#include "core/EnvironmentFiles.h"
#include "core/RegularFile.h"
#include "core/TokenPin.h"

namespace PackageSignatures {

namespace {

constexpr const char* engineId = "pkcs11";
constexpr const char uriScheme[] = "pkcs11:";

// Written once by the load-time set-up, like the registered identifiers.
int tokenKeySlot = -1;

// What a token key needs besides its EVP_PKEY: the engine stays initialised
// while the key lives (libp11's key methods use the engine's PKCS#11
// context, which finishing the engine unloads). Freed by OpenSSL after the
// key's own data, so the engine is finished only once nothing refers to the
// token any more.
struct TokenKeyOwner {
    Common::OpenSsl::EngineFunctionalHandle engine;
};

// Every token key of the process goes through the engine's one PKCS#11
// context, and two keys may share a token and its session (a package key
// and a TA key, used at once by the file-signing threads and the thread
// that digests the payload): their operations take turns on one lock.
std::mutex& tokenUse()
{
    static std::mutex use;
    return use;
}

void freeOwner(void*, void* owner, CRYPTO_EX_DATA*, int, long, void*)
{
    delete static_cast<TokenKeyOwner*>(owner);
}

// A copy of a token key would share the owner and free it twice.
int refuseCopy(CRYPTO_EX_DATA*, const CRYPTO_EX_DATA*, void**, int, long, void*)
{
    return 0;
}

struct PinAnswer {
    const char* pin = nullptr;
    bool asked = false;
};

// Answers the engine's PIN prompt from the caller's PIN and never reads a
// terminal: without a PIN the prompt fails at once.
int answerPinPrompt(UI* ui, UI_STRING* request)
{
    const auto type = UI_get_string_type(request);
    if (type != UIT_PROMPT && type != UIT_VERIFY)
        return 1;
    auto* answer = static_cast<PinAnswer*>(UI_get0_user_data(ui));
    if (answer == nullptr)
        return 0;
    answer->asked = true;
    return answer->pin != nullptr && UI_set_result(ui, request, answer->pin) == 0 ? 1 : 0;
}

// The engine by its id, loaded from OpenSSL's engine directory on first use
// and then kept in OpenSSL's engine list, so every token key of the process
// shares one engine and one PKCS#11 context (a second context on the same
// module would finalise the module under the first one).
Common::OpenSsl::EngineHandle findEngine()
{
    ERR_set_mark();
    Common::OpenSsl::EngineHandle engine(ENGINE_by_id(engineId));
    if (engine) {
        // Fails harmlessly when the engine came from the list already.
        ENGINE_add(engine.get());
        // libp11 prints its own notes on standard error; the reason of a
        // failure is taken from the error queue instead, as one line.
        ENGINE_ctrl_cmd_string(engine.get(), "QUIET", nullptr, 1);
    }
    ERR_pop_to_mark();
    return engine;
}

// The engine hands out one EVP_PKEY per token object, and a second read of
// the same object (the signing key named again as the TA key) returns that
// key once more with its reference count raised. The key then already has
// an owner holding the engine for as long as any reference lives; the new
// owner is dropped, which finishes only its own engine reference. Reads
// from several threads take turns, so two owners never race for the slot.
bool attachOwner(EVP_PKEY* key, std::unique_ptr<TokenKeyOwner> owner)
{
    if (tokenKeySlot < 0)
        return false;
    const std::lock_guard<std::mutex> turn(tokenUse());
    if (EVP_PKEY_get_ex_data(key, tokenKeySlot) != nullptr)
        return true;
    if (EVP_PKEY_set_ex_data(key, tokenKeySlot, owner.get()) != 1)
        return false;
    owner.release();
    return true;
}

std::string failureReason(const PinAnswer& answer)
{
    const unsigned long code = ERR_peek_error();
    const char* reason = code == 0 ? nullptr : ERR_reason_error_string(code);
    ERR_clear_error();
    if (answer.asked && answer.pin == nullptr)
        return "the token needs a PIN and none was given";
    return reason != nullptr ? reason : "the engine could not load it";
}

Common::OpenSsl::EvpPkeyHandle readTokenKey(const std::string& uri, const char* pin)
{
    const std::string shown = shownTokenUri(uri);
    // Every file the engine would open for this key is checked, or read,
    // here first: the engine opens them with calls that wait on a FIFO.
    std::string failure;
    const std::optional<std::string> engineUri = withPinSourcesRead(uri, failure);
    if (!engineUri || !tokenModuleOpenable(failure)) {
        std::fprintf(stderr, "Could not read private key \"%s\": %s\n", shown.c_str(), failure.c_str());
        return nullptr;
    }
    if (!engineModuleOpenable(engineId, failure)) {
        std::fprintf(stderr, "Could not read private key \"%s\": the \"%s\" engine is not available (%s)\n",
                     shown.c_str(), engineId, failure.c_str());
        return nullptr;
    }
    const Common::OpenSsl::EngineHandle found = findEngine();
    if (!found) {
        ERR_clear_error();
        std::fprintf(stderr, "Could not read private key \"%s\": the \"%s\" engine is not available\n", shown.c_str(),
                     engineId);
        return nullptr;
    }
    if (ENGINE_init(found.get()) != 1) {
        ERR_clear_error();
        std::fprintf(stderr, "Could not read private key \"%s\": the \"%s\" engine could not be initialised\n",
                     shown.c_str(), engineId);
        return nullptr;
    }
    auto owner = std::make_unique<TokenKeyOwner>();
    owner->engine.reset(found.get());

    const Common::OpenSsl::UiMethodHandle prompt(UI_create_method("torvel token PIN"));
    if (!prompt || UI_method_set_reader(prompt.get(), answerPinPrompt) != 0) {
        std::fprintf(stderr, "Could not read private key \"%s\": out of memory\n", shown.c_str());
        return nullptr;
    }
    PinAnswer answer {pin};
    Common::OpenSsl::EvpPkeyHandle key(
        ENGINE_load_private_key(owner->engine.get(), engineUri->c_str(), prompt.get(), &answer));
    if (!key) {
        std::fprintf(stderr, "Could not read private key \"%s\": %s\n", shown.c_str(), failureReason(answer).c_str());
        return nullptr;
    }
    if (!attachOwner(key.get(), std::move(owner))) {
        ERR_clear_error();
        std::fprintf(stderr, "Could not read private key \"%s\": its owner could not be attached\n", shown.c_str());
        return nullptr;
    }
    return key;
}

} // namespace

bool isTokenKeyUri(const char* location)
{
    return location != nullptr && strncasecmp(location, uriScheme, std::strlen(uriScheme)) == 0;
}

std::string shownTokenUri(const std::string& uri)
{
    // Attributes are separated by ';' in the path and by '&' in the query.
    static constexpr std::string_view pinValue = "pin-value=";
    std::string shown;
    size_t position = 0;
    while (position < uri.size()) {
        const size_t end = uri.find_first_of(";?&", position);
        const size_t stop = end == std::string::npos ? uri.size() : end;
        const std::string_view attribute(uri.data() + position, stop - position);
        if (attribute.substr(0, pinValue.size()) == pinValue)
            shown.append(pinValue).append("***");
        else
            shown.append(attribute);
        if (end == std::string::npos)
            break;
        shown.push_back(uri[end]);
        position = end + 1;
    }
    return Common::visibleText(shown);
}

std::optional<PrivateKeySource> PrivateKeySource::open(const char* location, std::string& failure)
{
    PrivateKeySource source;
    source.m_location = location == nullptr ? "" : location;
    if (isTokenKeyUri(location))
        return source;
    source.m_file = openRegularStream(location, failure);
    if (!source.m_file)
        return std::nullopt;
    return source;
}

Common::OpenSsl::EvpPkeyHandle PrivateKeySource::read(const char* passphrase)
{
    if (inToken())
        return readTokenKey(m_location, passphrase);
    // With no callback, OpenSSL takes the user data as the passphrase, and
    // prompts on the terminal when there is none.
    return Common::OpenSsl::EvpPkeyHandle(
        PEM_read_PrivateKey(m_file.get(), nullptr, nullptr, const_cast<char*>(passphrase)));
}

std::unique_lock<std::mutex> exclusiveUse(const EVP_PKEY* key)
{
    // Signatures with some keys (ECDSA, GOST, PSS) draw random numbers.
    seedRandomGenerator();
    auto* owner = key == nullptr || tokenKeySlot < 0
                      ? nullptr
                      : static_cast<TokenKeyOwner*>(EVP_PKEY_get_ex_data(key, tokenKeySlot));
    return owner == nullptr ? std::unique_lock<std::mutex>() : std::unique_lock<std::mutex>(tokenUse());
}

void registerTokenKeySlot()
{
    tokenKeySlot = EVP_PKEY_get_ex_new_index(0, nullptr, nullptr, refuseCopy, freeOwner);
}

} // namespace PackageSignatures
