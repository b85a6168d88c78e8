#include "app/ExtractionRoot.h"

#include "app/InterruptCleanup.h"
#include "app/TreeRemoval.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace Validator {

std::optional<ExtractionRoot> ExtractionRoot::create(std::string& error)
{
    char templ[] = "/tmp/dir.XXXXXX";
    if (!::mkdtemp(templ)) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    return ExtractionRoot(templ);
}

ExtractionRoot::ExtractionRoot(std::string path) : m_path(std::move(path)), m_maker(::getpid())
{
    InterruptCleanup::addRoot(m_path);
}

ExtractionRoot::ExtractionRoot(ExtractionRoot&& other) noexcept : m_path(std::move(other.m_path)), m_maker(other.m_maker)
{
    other.m_path.clear();
}

ExtractionRoot::~ExtractionRoot()
{
    if (m_path.empty() || !mine())
        return;
    remove();
    InterruptCleanup::removeRoot(m_path);
}

bool ExtractionRoot::mine() const
{
    return m_maker == ::getpid();
}

bool ExtractionRoot::remove() const
{
    return mine() && removeTree(m_path);
}

} // namespace Validator
