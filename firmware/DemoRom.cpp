// DemoRom: pads the embedded demo firmware code to the 1 MB ROM image on
// first use (erased flash reads 0xFF), so the first application page is 65.
#include "DemoRom.h"

#include <algorithm>
#include <cstddef>
#include <vector>

extern const uint8_t demoRomCode[];
extern const std::size_t demoRomCodeSize;

namespace {
constexpr std::size_t demoRomSize = 1048576;
}

std::span<const uint8_t> demoRomImage() {
    static const std::vector<uint8_t> image = [] {
        std::vector<uint8_t> bytes(demoRomSize, 0xFF);
        std::copy_n(demoRomCode, std::min(demoRomCodeSize, demoRomSize), bytes.begin());
        return bytes;
    }();
    return image;
}
