#include "checks/desktop/DesktopAttestation.h"

#include "checks/desktop/DesktopMessages.h"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <vector>

namespace Validator {

namespace {

const std::string kGroup = "Attestation";
const std::set<std::string> kRequiredKeys = {"ActionOnBadAttestation"};
const std::map<std::string, std::vector<std::string>, std::less<>> kAllowedValues = {
    {"ActionOnBadAttestation", {"None", "RemoveAll"}},
};

} // namespace

void DesktopAttestation::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    if (!m_entry.containsGroup(kGroup))
        return;
    const std::vector<std::string> keys = m_entry.groupKeys(kGroup);
    // Sorted and without repeats, as the two key tests report them.
    const std::set<std::string> present(keys.begin(), keys.end());

    bool missing = false;
    for (const std::string& key : kRequiredKeys) {
        if (!present.count(key)) {
            logger().add(AttestationMessage::KeyMissing, {key, kGroup});
            missing = true;
        }
    }
    if (missing)
        return;

    bool invalid = false;
    for (const std::string& key : present) {
        if (!kAllowedValues.count(key)) {
            logger().add(AttestationMessage::KeyInvalid, {key, kGroup});
            invalid = true;
        }
    }
    if (invalid)
        return;

    for (const std::string& key : keys) {
        const std::string value = m_entry.value(kGroup, key);
        const std::vector<std::string>& allowed = kAllowedValues.find(key)->second;
        if (std::find(allowed.begin(), allowed.end(), value) == allowed.end())
            logger().add(AttestationMessage::ValueInvalid, {value, key});
    }
}

} // namespace Validator
