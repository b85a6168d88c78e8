#include "checks/desktop/DesktopAttestation.h"

#include "checks/desktop/DesktopMessages.h"
#include "checks/desktop/DesktopTables.h"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <vector>

namespace Validator {

namespace {

using namespace DesktopTables;

const std::string kGroup(kAttestationGroup);

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
    // Every key of the table is required, in ascending byte order.
    std::set<std::string_view> required;
    for (const KeyValues& key : kAttestationKeys)
        required.insert(key.key);
    for (std::string_view key : required) {
        if (!present.count(std::string(key))) {
            logger().add(AttestationMessage::KeyMissing, {key, kGroup});
            missing = true;
        }
    }
    if (missing)
        return;

    bool invalid = false;
    for (const std::string& key : present) {
        if (!findKey(key, kAttestationKeys)) {
            logger().add(AttestationMessage::KeyInvalid, {key, kGroup});
            invalid = true;
        }
    }
    if (invalid)
        return;

    for (const std::string& key : keys) {
        const std::string value = m_entry.value(kGroup, key);
        if (!isOneOf(value, findKey(key, kAttestationKeys)->values))
            logger().add(AttestationMessage::ValueInvalid, {value, key});
    }
}

} // namespace Validator
