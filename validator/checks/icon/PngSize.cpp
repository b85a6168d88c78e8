#include "checks/icon/PngSize.h"

#include "package/PackagedFile.h"

// libpng hands gray images with an alpha channel (and gray ones with a
// transparent colour) to GIL as gray-alpha, which GIL reads only when asked.
#define BOOST_GIL_IO_ENABLE_GRAY_ALPHA
#include <boost/gil.hpp>
#include <boost/gil/extension/io/png.hpp>

#include <exception>
#include <istream>
#include <streambuf>

#if defined(__SANITIZE_ADDRESS__)
#define PNG_SIZE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PNG_SIZE_LSAN 1
#endif
#endif
#ifdef PNG_SIZE_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace gil = boost::gil;

using PngStreamBackend = gil::reader_backend<gil::detail::istream_device<gil::png_tag>, gil::png_tag>;

namespace {

// The limits on what libpng keeps of the chunks before the image data:
// text and unknown chunks are dropped once 32 were stored, and none may
// take more than 1 MiB, so a file of endless chunks costs little memory.
constexpr png_uint_32 kChunkCacheMax = 32;
constexpr png_alloc_size_t kChunkMallocMax = 1 << 20;

// libpng's own handlers write "libpng error: ..." and "libpng warning: ..."
// lines to standard error, between the findings. An icon that fails is a
// finding of its own; libpng's details are not.
[[noreturn]] void silentError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void silentWarning(png_structp, png_const_charp) {}

// Its address marks a png_struct whose handlers were replaced.
constexpr char kSilenced = 0;

} // namespace

// GIL creates its png_struct with libpng's default handlers and gives no way
// to replace them; every byte libpng reads passes through this callback, the
// first time before any chunk is read, so this is where they are replaced.
// GIL also ignores a short read, leaving libpng to decode bytes that were
// never read; a short read is an error here. GIL's PNG reading over streams
// is used in this file only, so this specialisation is seen by every use.
template <>
void PngStreamBackend::read_data(png_structp png, png_bytep data, png_size_t length)
{
    if (png_get_error_ptr(png) != &kSilenced) {
        png_set_error_fn(png, const_cast<char*>(&kSilenced), silentError, silentWarning);
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
        png_set_chunk_cache_max(png, kChunkCacheMax);
        png_set_chunk_malloc_max(png, kChunkMallocMax);
    }
    auto* device = static_cast<gil::detail::istream_device<gil::png_tag>*>(png_get_io_ptr(png));
    if (device->read(data, length) != length)
        png_error(png, "short read");
}

namespace Validator {

namespace {

// An input stream over a packaged file, read in blocks.
class PackagedFileBuffer : public std::streambuf {
public:
    explicit PackagedFileBuffer(PackagedFile& file) : m_file(file) {}

protected:
    int_type underflow() override
    {
        const ssize_t n = m_file.read(m_block, sizeof m_block);
        if (n <= 0)
            return traits_type::eof();
        setg(m_block, m_block, m_block + n);
        return traits_type::to_int_type(m_block[0]);
    }

private:
    PackagedFile& m_file;
    char m_block[16384];
};

} // namespace

bool isPngOfSize(PackagedFile& file, std::uint32_t width, std::uint32_t height)
{
    PackagedFileBuffer buffer(file);
    std::istream stream(&buffer);
    try {
        using Reader = gil::get_reader<std::istream, gil::png_tag,
                                       gil::detail::read_and_convert<gil::default_color_converter>>::type;
        Reader reader = gil::make_reader(stream, gil::png_tag{},
                                         gil::detail::read_and_convert<gil::default_color_converter>{});
        if (reader._info._width != width || reader._info._height != height)
            return false;
        gil::rgba8_image_t image(width, height);
#ifdef PNG_SIZE_LSAN
        // When libpng fails inside the image data, GIL jumps back past its
        // row buffer, which is then never freed: a few bytes per broken icon.
        __lsan::ScopedDisabler rowBufferMayLeak;
#endif
        gil::read_and_convert_view(reader, gil::view(image));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace Validator
