/* Writes a square PNG icon of one colour: make-icon SIZE FILE.
 *
 * Launcher icons must be PNG images of exactly SIZExSIZE pixels. The samples
 * make theirs while they build, so that the repository holds no image files;
 * the image data is stored uncompressed, which needs no library. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint32_t crc_table[256];

static void make_crc_table(void)
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        crc_table[n] = c;
    }
}

static uint32_t crc(const unsigned char *bytes, size_t length, uint32_t c)
{
    for (size_t i = 0; i < length; i++)
        c = crc_table[(c ^ bytes[i]) & 0xff] ^ (c >> 8);
    return c;
}

static void put32(unsigned char *out, uint32_t value)
{
    out[0] = value >> 24;
    out[1] = value >> 16;
    out[2] = value >> 8;
    out[3] = value;
}

/* One chunk: length, type, data, CRC over type and data. */
static void chunk(FILE *file, const char *type, const unsigned char *data, uint32_t length)
{
    unsigned char word[4];
    put32(word, length);
    fwrite(word, 1, 4, file);
    fwrite(type, 1, 4, file);
    fwrite(data, 1, length, file);
    put32(word, ~crc(data, length, crc((const unsigned char *)type, 4, 0xffffffffu)));
    fwrite(word, 1, 4, file);
}

int main(int argc, char *argv[])
{
    if (argc != 3 || atoi(argv[1]) <= 0 || atoi(argv[1]) > 1024) {
        fprintf(stderr, "usage: make-icon SIZE FILE\n");
        return 2;
    }
    const uint32_t size = (uint32_t)atoi(argv[1]);
    make_crc_table();

    /* Each row: filter type 0, then red, green, blue per pixel. */
    const size_t row = 1 + 3 * (size_t)size;
    const size_t raw_length = row * size;
    unsigned char *raw = malloc(raw_length);
    for (size_t y = 0; y < size; y++) {
        raw[y * row] = 0;
        for (size_t x = 0; x < size; x++)
            memcpy(raw + y * row + 1 + 3 * x, "\x2a\x7f\xd4", 3);
    }

    /* A zlib stream of stored deflate blocks of at most 65535 bytes. */
    const size_t blocks = (raw_length + 65534) / 65535;
    unsigned char *zlib = malloc(2 + raw_length + 5 * blocks + 4);
    size_t at = 0;
    zlib[at++] = 0x78;
    zlib[at++] = 0x01;
    uint32_t a = 1, b = 0;
    for (size_t done = 0; done < raw_length;) {
        const size_t length = raw_length - done > 65535 ? 65535 : raw_length - done;
        zlib[at++] = done + length == raw_length ? 1 : 0;
        zlib[at++] = length & 0xff;
        zlib[at++] = length >> 8;
        zlib[at++] = ~length & 0xff;
        zlib[at++] = (~length >> 8) & 0xff;
        memcpy(zlib + at, raw + done, length);
        at += length;
        for (size_t i = 0; i < length; i++) {
            a = (a + raw[done + i]) % 65521;
            b = (b + a) % 65521;
        }
        done += length;
    }
    put32(zlib + at, (b << 16) | a);
    at += 4;

    unsigned char header[13];
    put32(header, size);
    put32(header + 4, size);
    header[8] = 8;  /* bits per sample */
    header[9] = 2;  /* truecolour */
    header[10] = header[11] = header[12] = 0;

    FILE *file = fopen(argv[2], "wb");
    if (!file) {
        perror(argv[2]);
        return 1;
    }
    fwrite("\x89PNG\r\n\x1a\n", 1, 8, file);
    chunk(file, "IHDR", header, sizeof header);
    chunk(file, "IDAT", zlib, (uint32_t)at);
    chunk(file, "IEND", (const unsigned char *)"", 0);
    free(raw);
    free(zlib);
    return fclose(file) == 0 ? 0 : 1;
}
