#pragma once

#include <cstdint>
#include <string>

namespace Validator {

// The kind of application a package is, which decides what it may contain.
enum class Profile : std::int32_t {
    Regular = 0,
    Extended = 1,
    Mdm = 2,
    Antivirus = 3,
    Auth = 4,
    Market = 5,
    SystemApp = 6,
    Pwa = 7,
};

// Exact, case-sensitive. Throws std::out_of_range "Unknown profile name: ".
Profile profileByName(const std::string& name);
// Throws std::out_of_range "Unknown profile type: ".
std::string profileName(Profile profile);
// The first profile of the table with that developer subgroup ("pwa" shares
// subgroup 1 with "regular" and is never chosen this way).
// Throws std::out_of_range "Unknown developer subgroup: ".
Profile profileBySubgroup(int subgroup);

// "regular, extended, mdm, antivirus, auth, market, systemapp, pwa"
std::string profileListText();

} // namespace Validator
