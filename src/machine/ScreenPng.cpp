// ScreenPng: the display as a 1-bit palette PNG, written and read with zlib
// (see ScreenPng.h).
#include "machine/ScreenPng.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace png {

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t getU32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint32_t chunkCrc(const uint8_t* type, const uint8_t* data, std::size_t size) {
    const uLong crc = crc32(0L, type, 4);
    // crc32 answers its initial value for a null buffer, whatever came before.
    return static_cast<uint32_t>(size == 0 ? crc : crc32(crc, data, static_cast<uInt>(size)));
}

void putChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, std::size_t size) {
    putU32(out, static_cast<uint32_t>(size));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    putU32(out, chunkCrc(reinterpret_cast<const uint8_t*>(type), data, size));
}

}  // namespace png

using png::getU32;
using png::putChunk;
using png::putU32;
using png::signature;

namespace {

constexpr int rowBytes = screenPngWidth / 8;  // 20
constexpr int bitmapLines = 304;

}  // namespace

bool writeScreenPng(const std::string& path, const uint8_t* screenBits) {
    // Every PNG row is one filter byte (0: none) and the 20 bytes of the line;
    // the top display line is the last line of the bottom-up bitmap.
    std::vector<uint8_t> raw;
    raw.reserve(screenPngHeight * (rowBytes + 1));
    for (int y = 0; y < screenPngHeight; ++y) {
        raw.push_back(0);
        const uint8_t* line = screenBits + (bitmapLines - 1 - y) * rowBytes;
        raw.insert(raw.end(), line, line + rowBytes);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        return false;
    packed.resize(packedSize);

    std::vector<uint8_t> header;
    putU32(header, screenPngWidth);
    putU32(header, screenPngHeight);
    header.insert(header.end(), {1, 3, 0, 0, 0});  // depth 1, palette, deflate, no filter set, no interlace
    const std::vector<uint8_t> palette = {255, 251, 240, 0, 0, 0};

    std::vector<uint8_t> file(std::begin(signature), std::end(signature));
    putChunk(file, "IHDR", header);
    putChunk(file, "PLTE", palette);
    putChunk(file, "IDAT", packed);
    putChunk(file, "IEND", {});

    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return (std::fclose(f) == 0) && written;
}

std::optional<std::vector<uint8_t>> decodeScreenPng(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 8 || std::memcmp(file.data(), signature, 8) != 0)
        return std::nullopt;
    std::vector<uint8_t> packed;
    bool headerOk = false;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = getU32(&file[at]);
        if (length > file.size() - at - 12)
            return std::nullopt;
        const uint8_t* type = &file[at + 4];
        const uint8_t* data = &file[at + 8];
        if (png::chunkCrc(type, data, length) != getU32(data + length))
            return std::nullopt;
        if (std::memcmp(type, "IHDR", 4) == 0) {
            headerOk = length == 13 && getU32(data) == screenPngWidth && getU32(data + 4) == screenPngHeight &&
                       data[8] == 1 && data[9] == 3 && data[12] == 0;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            packed.insert(packed.end(), data, data + length);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
        at += 12 + length;
    }
    if (!headerOk)
        return std::nullopt;
    std::vector<uint8_t> raw(screenPngHeight * (rowBytes + 1));
    uLongf rawSize = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &rawSize, packed.data(), static_cast<uLong>(packed.size())) != Z_OK ||
        rawSize != raw.size())
        return std::nullopt;
    std::vector<uint8_t> pixels;
    pixels.reserve(screenPngHeight * rowBytes);
    for (int y = 0; y < screenPngHeight; ++y) {
        const uint8_t* row = &raw[y * (rowBytes + 1)];
        if (row[0] != 0)  // only the writer's own files, which never filter
            return std::nullopt;
        pixels.insert(pixels.end(), row + 1, row + 1 + rowBytes);
    }
    return pixels;
}
