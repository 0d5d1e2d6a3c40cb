// MachineState: the ROM digest and page copies (see MachineState.h).
#include "machine/MachineState.h"

#include <cstring>

uint64_t romImageDigest(const uint8_t* flash) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < MachineState::RomPages * MemoryMap::PageSize; ++i) {
        hash ^= flash[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

PageCopy copyPage(const uint8_t* data) {
    auto page = std::make_shared<std::array<uint8_t, MemoryMap::PageSize>>();
    std::memcpy(page->data(), data, MemoryMap::PageSize);
    return page;
}
