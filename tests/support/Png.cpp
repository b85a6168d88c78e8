#include "Png.h"

#include <png.h>
#include <zlib.h>

#include <stdexcept>

namespace TestKit {

namespace {

void appendToString(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void appendBigEndian(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

void appendChunk(std::string& out, const std::string& type, const std::string& data)
{
    appendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::string body = type + data;
    out += body;
    appendBigEndian(out, static_cast<std::uint32_t>(
                             crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

} // namespace

std::string png(unsigned width, unsigned height, int colorType, int bitDepth, bool interlaced)
{
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::runtime_error("libpng: cannot create a write structure");
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng: writing the image failed");
    }
    png_set_write_fn(png, &out, appendToString, nullptr);
    png_set_IHDR(png, info, width, height, bitDepth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_color palette[16];
        for (int i = 0; i < 16; ++i)
            palette[i] = {static_cast<png_byte>(i * 16), static_cast<png_byte>(255 - i * 16), 128};
        png_set_PLTE(png, info, palette, 1 << std::min(bitDepth, 4));
    }
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    std::string row(png_get_rowbytes(png, info), '\0');
    for (int pass = 0; pass < passes; ++pass) {
        for (unsigned y = 0; y < height; ++y) {
            for (std::size_t x = 0; x < row.size(); ++x)
                row[x] = static_cast<char>((x + y) % (colorType == PNG_COLOR_TYPE_PALETTE ? 16 : 256));
            png_write_row(png, reinterpret_cast<png_const_bytep>(row.data()));
        }
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string pngHeaderOnly(unsigned width, unsigned height)
{
    std::string out = "\x89PNG\r\n\x1a\n";
    std::string header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace
    appendChunk(out, "IHDR", header);
    // One compressed row of one pixel, far short of what the header claims.
    const std::string row(5, '\0');
    std::string compressed(compressBound(static_cast<uLong>(row.size())), '\0');
    uLongf size = static_cast<uLongf>(compressed.size());
    compress(reinterpret_cast<Bytef*>(compressed.data()), &size, reinterpret_cast<const Bytef*>(row.data()),
             static_cast<uLong>(row.size()));
    compressed.resize(size);
    appendChunk(out, "IDAT", compressed);
    appendChunk(out, "IEND", "");
    return out;
}

std::vector<Entry> launcherIcons(const std::string& name)
{
    std::vector<Entry> icons;
    for (unsigned size : {86u, 108u, 128u, 172u}) {
        const std::string pixels = std::to_string(size);
        icons.push_back(file("/usr/share/icons/hicolor/" + pixels + "x" + pixels + "/apps/" + name + ".png", png(size, size)));
    }
    return icons;
}

} // namespace TestKit
