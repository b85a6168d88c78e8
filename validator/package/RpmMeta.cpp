#include "package/RpmMeta.h"

#include "package/RpmReader.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace Validator {

namespace {

constexpr std::array<rpmTagVal, 12> kScriptTags = {
    RPMTAG_PREIN, RPMTAG_PREUN, RPMTAG_POSTIN, RPMTAG_POSTUN, RPMTAG_PRETRANS, RPMTAG_POSTTRANS,
    RPMTAG_PREINPROG, RPMTAG_PREUNPROG, RPMTAG_POSTINPROG, RPMTAG_POSTUNPROG, RPMTAG_PRETRANSPROG,
    RPMTAG_POSTTRANSPROG,
};

bool hasAnyScript(const Common::Rpm::Reader& reader)
{
    return std::any_of(kScriptTags.begin(), kScriptTags.end(), [&](rpmTagVal tag) {
        try {
            reader.stringTag(tag);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    });
}

} // namespace

std::vector<std::string> RpmMeta::normaliseRequires(std::vector<std::string> names)
{
    std::erase_if(names, [](const std::string& name) {
        return name.find("rpmlib") != std::string::npos || name.find('/') != std::string::npos
            || name.find("rtld") != std::string::npos;
    });
    // Two rounds, so that "()(64bit)" loses both suffixes.
    for (std::string& name : names) {
        for (int round = 0; round < 2; ++round) {
            for (std::string_view suffix : {std::string_view("(64bit)"), std::string_view("()")}) {
                if (name.ends_with(suffix))
                    name.resize(name.size() - suffix.size());
            }
        }
    }
    return names;
}

RpmMeta::RpmMeta(const std::string& packagePath)
{
    Common::Rpm::Reader reader(packagePath);
    m_name = reader.stringTag(RPMTAG_NAME, {});
    m_version = reader.stringTag(RPMTAG_VERSION, {});
    m_release = reader.stringTag(RPMTAG_RELEASE, {});
    m_vendor = reader.stringTag(RPMTAG_VENDOR, {});
    m_arch = reader.stringTag(RPMTAG_ARCH, {});
    m_provides = reader.dependencyNames(RPMTAG_PROVIDENAME);
    m_obsoletes = reader.dependencyNames(RPMTAG_OBSOLETENAME);
    m_conflicts = reader.dependencyNames(RPMTAG_CONFLICTNAME);
    m_hasScripts = hasAnyScript(reader);
    reader.forEachFile([this](FileInfo&& info) {
        m_paths.push_back(info.path);
        m_fileInfos.push_back(std::move(info));
    });
    m_requires = normaliseRequires(reader.dependencyNames(RPMTAG_REQUIRENAME));
}

} // namespace Validator
