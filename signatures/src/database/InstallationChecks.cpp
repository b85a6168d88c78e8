// What the package manager asks before and after installing a package.
//
// Every check here fails closed: a database that cannot answer (locked,
// corrupt, unreadable) must never look like "not revoked" or "not
// installed", or a blacklisted key or another developer's update would
// pass whenever the file is busy.

#include <algorithm>
#include <cstdio>

#include "common/VisibleText.h"
#include "database/DatabaseRecord.h"

namespace PackageSignatures {

std::optional<bool> Database::Record::developerMatch(const std::string& id, const Cms& cms)
{
    const std::optional<bool> installed = packageExists(id);
    if (!installed)
        return std::nullopt;
    if (!*installed)
        return true;
    const auto developer = packageCertificateWithGroup(id, GroupDeveloper);
    if (!developer)
        return std::nullopt;
    // A stored certificate that no longer decodes has no key id, and an
    // empty key id must not match a block or chain certificate without one.
    if (!*developer || (*developer)->keyId().empty())
        return false;
    const std::string& installedKeyId = (*developer)->keyId();
    if (installedKeyId == cms.certificate()->keyId())
        return true;
    const std::vector<std::string> previous = cms.rotationChain()->previousKeyids();
    return std::find(previous.begin(), previous.end(), installedKeyId) != previous.end();
}

bool Database::insertPackage(const std::string& id, const std::vector<Cms>& cmses)
{
    if (cmses.empty())
        return false;
    Transaction transaction(connection());
    if (!transaction.begun() || !removePackage(id))
        return false;
    for (const Cms& cms : cmses) {
        if (!insertPackageWithCertificate(id, *cms.certificate()))
            return false;
        // Installing a package signed with a newer key retires every key the
        // chain rotated away from; insertRevokedKeyid keeps blacklisted ones.
        for (const std::string& keyid : cms.rotationChain()->previousKeyids()) {
            if (!insertRevokedKeyid(keyid, Superseded))
                return false;
        }
    }
    return transaction.commit();
}

bool Database::developerMatch(const std::string& id, const Cms& cms)
{
    return m_record->developerMatch(id, cms).value_or(false);
}

int Database::checkPackage(const std::string& id, const std::vector<Cms>& cmses, bool)
{
    // The developer's block is the first one; taken by reference rather than
    // through developerCmsFromVector, whose copy would parse the block again.
    if (cmses.empty() || cmses.front().certificate()->group() != GroupDeveloper)
        return CheckNoDeveloperSignature;
    const Cms& developer = cmses.front();
    const auto notPossible = [&id] {
        std::fprintf(stderr, "Could not check package %s against the trust database\n",
                     Common::visibleText(id).c_str());
        return CheckNotPossible;
    };

    const std::optional<int> status = m_record->revocationStatus(developer.certificate()->keyId());
    if (!status)
        return notPossible();
    if (*status == Superseded)
        return CheckKeySuperseded;
    if (*status == Blacklisted)
        return CheckKeyBlacklisted;
    // A superseded previous key is what a rotation is for; a blacklisted one
    // taints every key rotated from it.
    for (const std::string& keyid : developer.rotationChain()->previousKeyids()) {
        const std::optional<int> previous = m_record->revocationStatus(keyid);
        if (!previous)
            return notPossible();
        if (*previous == Blacklisted)
            return CheckKeyBlacklisted;
    }
    const std::optional<bool> match = m_record->developerMatch(id, developer);
    if (!match)
        return notPossible();
    return *match ? CheckPassed : CheckDeveloperMismatch;
}

} // namespace PackageSignatures
