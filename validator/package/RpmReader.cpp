#include "package/RpmReader.h"

#include "common/VisibleText.h"

#include "package/Error.h"
#include "package/RpmConfiguration.h"
#include "package/RpmKeyring.h"
#include "package/RpmMeta.h"

#include <sstream>

#include <rpm/rpmlib.h>

namespace Common::Rpm {

namespace {

std::string orEmpty(const char* text)
{
    return text ? std::string(text) : std::string();
}

} // namespace

Reader::Reader(const std::string& path)
{
    loadConfiguration();
    m_fd.reset(Fopen(path.c_str(), "r.ufdio"));
    if (!m_fd || Ferror(m_fd.get()))
        throw Error(ErrorCode::FileNotFound, "Couldn't open rpm package");

    // The keyring outlives the transaction set that refers to it.
    const KeyringHandle keyring = readOnlyKeyring();
    TsHandle ts(rpmtsCreate());
    rpmtsSetRootDir(ts.get(), nullptr);
    // The header's signatures are checked against the keys of the rpm
    // database, read without writing it; librpm must not open the database
    // itself (see readOnlyKeyring).
    rpmtsSetKeyring(ts.get(), keyring.get());
    rpmtsSetDBMode(ts.get(), -1);
    Header header = nullptr;
    // The name only goes into librpm's own warnings (an unknown signing key,
    // a damaged header); escaped, a hostile file name stays on its line.
    const std::string shownName = visibleText(path);
    rpmRC rc = rpmReadPackageFile(ts.get(), m_fd.get(), shownName.c_str(), &header);
    m_header.reset(header);
    if (rc != RPMRC_OK || !m_header)
        throw Error(ErrorCode::BadPackageFileFormat, "Couldn't read rpm package");
}

std::string Reader::stringTag(rpmTagVal tag) const
{
    TdHandle td(rpmtdNew());
    if (headerGet(m_header.get(), tag, td.get(), HEADERGET_EXT)) {
        const char* value = rpmtdGetString(td.get());
        if (value) {
            std::string result(value);
            rpmtdFreeData(td.get());
            return result;
        }
        rpmtdFreeData(td.get());
    }
    throw Error(ErrorCode::BadPackageFileFormat,
                "Couldn't retrieve rpm tag from package (type=" + std::to_string(tag) + ")");
}

std::string Reader::stringTag(rpmTagVal tag, const std::string& fallback) const
{
    try {
        return stringTag(tag);
    } catch (const Error&) {
        return fallback;
    }
}

std::vector<std::string> Reader::dependencyNames(rpmTagVal tag) const
{
    std::vector<std::string> names;
    DsHandle ds(rpmdsNew(m_header.get(), tag, 0));
    if (!ds)
        return names;
    while (rpmdsNext(ds.get()) >= 0) {
        // DNEVR reads "<type letter> <name>[ <op> <version>]"; the name is
        // the second word.
        std::istringstream words(orEmpty(rpmdsDNEVR(ds.get())));
        std::string type, name;
        if (words >> type >> name)
            names.push_back(name);
    }
    return names;
}

void Reader::forEachFile(const std::function<void(Validator::FileInfo&&)>& visit) const
{
    FiHandle fi(rpmfiNew(nullptr, m_header.get(), RPMTAG_BASENAMES, RPMFI_KEEPHEADER));
    if (!fi)
        return;
    while (rpmfiNext(fi.get()) != -1) {
        Validator::FileInfo info;
        info.mode = static_cast<std::uint16_t>(rpmfiFMode(fi.get()));
        info.path = orEmpty(rpmfiFN(fi.get()));
        info.linkTarget = orEmpty(rpmfiFLink(fi.get()));
        info.user = orEmpty(rpmfiFUser(fi.get()));
        info.group = orEmpty(rpmfiFGroup(fi.get()));
        visit(std::move(info));
    }
}

} // namespace Common::Rpm
