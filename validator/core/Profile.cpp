#include "core/Profile.h"

#include <array>
#include <stdexcept>

namespace Validator {

namespace {

struct ProfileRow {
    Profile profile;
    const char* name;
    int developerSubgroup;
};

// Table order matters for the subgroup lookup: "auth" is stored before
// "antivirus" although their codes run the other way.
constexpr std::array<ProfileRow, 8> kProfiles = {{
    {Profile::Regular, "regular", 1},
    {Profile::Extended, "extended", 3},
    {Profile::Mdm, "mdm", 4},
    {Profile::Auth, "auth", 5},
    {Profile::Antivirus, "antivirus", 2},
    {Profile::Market, "market", 6},
    {Profile::SystemApp, "systemapp", 7},
    {Profile::Pwa, "pwa", 1},
}};

} // namespace

Profile profileByName(const std::string& name)
{
    for (const ProfileRow& row : kProfiles)
        if (name == row.name)
            return row.profile;
    throw std::out_of_range("Unknown profile name: " + name);
}

std::string profileName(Profile profile)
{
    for (const ProfileRow& row : kProfiles)
        if (row.profile == profile)
            return row.name;
    throw std::out_of_range("Unknown profile type: " + std::to_string(static_cast<int>(profile)));
}

Profile profileBySubgroup(int subgroup)
{
    for (const ProfileRow& row : kProfiles)
        if (row.developerSubgroup == subgroup)
            return row.profile;
    throw std::out_of_range("Unknown developer subgroup: " + std::to_string(subgroup));
}

std::string profileListText()
{
    std::string text;
    for (int code = 0; code <= 6; ++code)
        text += profileName(static_cast<Profile>(code)) + ", ";
    return text + profileName(Profile::Pwa);
}

} // namespace Validator
