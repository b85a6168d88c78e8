#include "app/report/ReportChannel.h"

#include "app/report/ReportRecords.h"
#include "common/PosixIo.h"

#include <cerrno>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace Validator {

namespace {

// A read-only view of the whole channel, unmapped when it goes: the records
// are read where the child left them, without a second copy in memory.
class MappedChannel {
public:
    explicit MappedChannel(int fd)
    {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_size <= 0)
            return;
        void* data = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED)
            return;
        m_data = data;
        m_size = static_cast<std::size_t>(st.st_size);
    }
    ~MappedChannel()
    {
        if (m_data)
            ::munmap(m_data, m_size);
    }
    MappedChannel(const MappedChannel&) = delete;
    MappedChannel& operator=(const MappedChannel&) = delete;

    std::string_view bytes() const { return {static_cast<const char*>(m_data), m_size}; }

private:
    void* m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace

ReportChannel::ReportChannel() : m_fd(::memfd_create("vetrik-report", MFD_CLOEXEC))
{
    if (!m_fd)
        throw std::system_error(errno, std::generic_category(), "cannot make the report channel");
}

void ReportChannel::append(const std::string& record)
{
    // One write per record, so a record is either whole or the last one.
    // A failed write costs the report this record, which is all a full
    // memory can cost; the text output stays whole.
    Common::writeAll(m_fd.get(), record);
}

void ReportChannel::found(const RecordedFinding& finding)
{
    append(ReportRecords::finding(finding));
}

void ReportChannel::headerRead(const PackageHeader& header)
{
    append(ReportRecords::header(header));
}

void ReportChannel::profileChosen(std::string_view profile, std::string_view source)
{
    append(ReportRecords::profile(profile));
    append(ReportRecords::profileSource(source));
}

void ReportChannel::notValidated(std::string_view reason)
{
    append(ReportRecords::notValidated(reason));
}

void ReportChannel::collect(PackageReport& report) const
{
    const MappedChannel mapped(m_fd.get());
    ReportRecords::read(mapped.bytes(), report);
}

} // namespace Validator
