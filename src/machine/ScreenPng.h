// ScreenPng: writes the organiser's 160x240 display as a PNG file (1 bit per
// pixel, palette: 0 paper (255,251,240), 1 ink black), with zlib and no other
// library. The headless runner calls it at the end of a run and the device
// window for "Save Screenshot"; the tests read the files back with
// decodeScreenPng. The chunk helpers in png:: serve ScreenRecording too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr int screenPngWidth = 160;
inline constexpr int screenPngHeight = 240;

// screenBits: the machine's screen bitmap (20 bytes a line, bottom-up, 304
// lines, the display in the top 240). False when the file cannot be written.
bool writeScreenPng(const std::string& path, const uint8_t* screenBits);

// The pixels of a PNG that writeScreenPng made: 240 rows of 20 bytes, top row
// first, bit 7 the leftmost pixel, 1 ink. nullopt for any other file.
std::optional<std::vector<uint8_t>> decodeScreenPng(const std::string& path);

namespace png {

inline constexpr uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

void putU32(std::vector<uint8_t>& out, uint32_t v);
uint32_t getU32(const uint8_t* p);
// Length, type, data and the CRC of type and data.
void putChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, std::size_t size);
inline void putChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    putChunk(out, type, data.data(), data.size());
}
// The CRC a chunk of this type and data carries.
uint32_t chunkCrc(const uint8_t* type, const uint8_t* data, std::size_t size);

}  // namespace png
