// MemoryMap: window bases, the slow paths of readByte/writeByte (flash
// command interpreter, display controller), the page-register operations
// and the register editor's banked store.
#include "machine/MemoryMap.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Display controller registers inside window 2.
constexpr uint16_t LcdColumnRegister = 0x8000;
constexpr uint16_t LcdFirstLine = 0x8100;
constexpr uint16_t LcdLastLine = 0x81EF;  // 240 lines
constexpr int LcdColumns = 20;
constexpr std::size_t EraseBlock = 65536;

// Read pages with fixed answers, so that reads need no slow path.
struct ConstantPages {
    uint8_t flashId[MemoryMap::PageSize];      // maker code on even, device code on odd addresses
    uint8_t flashStatus[MemoryMap::PageSize];  // ready
    uint8_t noImage[MemoryMap::PageSize];      // before the images exist
};

constexpr ConstantPages makeConstantPages() {
    ConstantPages pages{};
    for (std::size_t i = 0; i < MemoryMap::PageSize; ++i) {
        pages.flashId[i] = (i & 1) ? 0xA6 : 0x89;
        pages.flashStatus[i] = 0x80;
        pages.noImage[i] = 0xFF;
    }
    return pages;
}

constexpr ConstantPages constantPages = makeConstantPages();

}  // namespace

MemoryMap::MemoryMap() : screenBits(defaultScreen) { rebuildPages(); }

bool MemoryMap::allocateImages() {
    flashImage.reset(new (std::nothrow) uint8_t[FlashSize]);
    ramImage.reset(new (std::nothrow) uint8_t[RamSize]);
    if (!imagesAllocated()) {
        releaseImages();
        return false;
    }
    std::memset(flashImage.get(), 0xFF, FlashSize);
    std::memset(ramImage.get(), 0, RamSize);
    rebuildPages();
    return true;
}

void MemoryMap::releaseImages() {
    flashImage.reset();
    ramImage.reset();
    rebuildPages();
}

void MemoryMap::resetMapping() {
    romBank = 0;
    romSelect = 0;
    ramBank = 0;
    ramSelect = 0;
    window2Flash = false;
    window2Lcd = false;
    flashMode = FlashMode::ReadArray;
    lcdColumn = 0;
    screenChanged.store(0, std::memory_order_relaxed);
    rebuildPages();
}

void MemoryMap::rebuildPages() { updatePages(true); }

void MemoryMap::updatePages(bool refreshShadow) {
    const uint8_t* readPage[4] = {constantPages.noImage, constantPages.noImage, constantPages.noImage,
                                  constantPages.noImage};
    uint8_t* writePage[4] = {};
    if (imagesAllocated()) {
        readPage[0] = flashImage.get();
        // Window 1 reads array data except while the interpreter answers ID or status.
        if (flashMode == FlashMode::ReadId)
            readPage[1] = constantPages.flashId;
        else if (flashMode == FlashMode::ReadStatus)
            readPage[1] = constantPages.flashStatus;
        else
            readPage[1] = flashPage(romBank);
        if (window2Lcd) {
            if (refreshShadow || readBase[2] != reinterpret_cast<uintptr_t>(displayShadow) - 2 * PageSize)
                refreshDisplayShadow();
            readPage[2] = displayShadow;
        } else if (window2Flash) {
            readPage[2] = flashPage(ramBank);
        } else {
            readPage[2] = ramPage(ramBank);
            writePage[2] = ramPage(ramBank);
        }
        readPage[3] = ramImage.get();
        writePage[3] = ramImage.get();
    }
    // Without images reads answer 0xFF and writes take the slow path, which drops them.
    for (uintptr_t w = 0; w < 4; ++w) {
        readBase[w] = reinterpret_cast<uintptr_t>(readPage[w]) - w * PageSize;
        writeBase[w] = writePage[w] ? reinterpret_cast<uintptr_t>(writePage[w]) - w * PageSize : 0;
    }
}

void MemoryMap::refreshDisplayShadow() {
    displayShadow[LcdColumnRegister & 0x3FFF] = static_cast<uint8_t>(lcdColumn);
    const bool visible = lcdColumn >= 0 && lcdColumn < LcdColumns;
    for (uint16_t address = LcdFirstLine; address <= LcdLastLine; ++address)
        displayShadow[address & 0x3FFF] = visible ? screenBits[(0x822F - address) * ScreenStride + lcdColumn] : 0;
}

void MemoryMap::copyScreen(uint8_t* out) const {
    // Byte by byte as atomics, matching the display's stores: a frame may be
    // torn between two writes, never a byte.
    for (std::size_t i = 0; i < ScreenBytes; ++i)
        out[i] = std::atomic_ref<uint8_t>(screenBits[i]).load(std::memory_order_relaxed);
}

void MemoryMap::writeSlow(uint16_t address, uint8_t value) {
    if (!imagesAllocated() || address < 0x4000)
        return;  // flash page 0 is read-only
    if (address < 0x8000) {
        flashCommand(address, value);
        return;
    }
    if (address < 0xC000 && window2Lcd) {
        if (address == LcdColumnRegister) {
            lcdColumn = value;
            refreshDisplayShadow();
        } else if (address >= LcdFirstLine && address <= LcdLastLine && lcdColumn >= 0 && lcdColumn < LcdColumns) {
            std::atomic_ref<uint8_t>(screenBits[(0x822F - address) * ScreenStride + lcdColumn])
                .store(value, std::memory_order_relaxed);
            displayShadow[address & 0x3FFF] = value;
            screenChanged.store(1, std::memory_order_release);
        }
        return;
    }
    if (address < 0xC000 && window2Flash)
        return;  // flash cannot be programmed through window 2
    *hostByte(address) = value;
}

void MemoryMap::flashCommand(uint16_t address, uint8_t value) {
    switch (flashMode) {
    case FlashMode::ReadArray:
        if (value == 0x90)
            flashMode = FlashMode::ReadId;
        else if (value == 0x70)
            flashMode = FlashMode::ReadStatus;
        else if (value == 0x40)
            flashMode = FlashMode::ProgramSetup;
        else if (value == 0x20)
            flashMode = FlashMode::EraseSetup;
        break;
    case FlashMode::ReadId:
    case FlashMode::ReadStatus:
        flashMode = value == 0x40 ? FlashMode::ProgramSetup : FlashMode::ReadArray;
        break;
    case FlashMode::ProgramSetup:
        flashPage(romBank)[address & 0x3FFF] = value;  // replaces the byte, as the organiser's software expects
        ++flashWrites;
        flashMode = FlashMode::ReadArray;
        break;
    case FlashMode::EraseSetup:
        if (value == 0xD0) {
            // Four pages from romBank, not aligned; pages 189-191 stop at the image's end.
            const std::size_t start = static_cast<std::size_t>(romBank) * PageSize;
            const std::size_t end = std::min(start + EraseBlock, FlashSize);
            if (start < end)
                std::memset(flashImage.get() + start, 0xFF, end - start);
            ++flashWrites;
        }
        flashMode = FlashMode::ReadArray;
        break;
    }
    updatePages(false);
}

void MemoryMap::setRomBankLow(uint8_t value) {
    romBank = (romBank & ~0x3F) | (value & 0x3F);
    updatePages(false);
}

void MemoryMap::setRomSelect(uint8_t value) {
    romSelect = value;
    romBank &= 0x3F;
    if (value == 3)
        romBank += 64;
    else if (value == 5)
        romBank += 128;
    updatePages(false);
}

void MemoryMap::setRamBankLow(uint8_t value) {
    ramBank = (ramBank & ~0x3F) | (value & 0x3F);
    updatePages(false);
}

void MemoryMap::setRamSelect(uint8_t value) {
    ramSelect = value;
    ramBank &= 0x3F;
    switch (value) {
    case 1:
        window2Flash = false;
        window2Lcd = false;
        break;
    case 3:
        window2Flash = true;
        ramBank += 64;
        break;
    case 6:
        window2Flash = false;
        window2Lcd = true;
        break;
    case 7:
        window2Flash = true;
        break;
    default:
        break;
    }
    updatePages(false);
}

uint8_t* MemoryMap::hostByte(uint16_t address, const uint8_t** imageEnd) const {
    uint8_t* byte;
    const uint8_t* end;
    if (address < 0x4000) {
        byte = flashImage.get() + address;
        end = flashImage.get() + FlashSize;
    } else if (address < 0x8000) {
        byte = flashPage(romBank) + (address & 0x3FFF);
        end = flashImage.get() + FlashSize;
    } else if (address < 0xC000) {
        if (window2Flash) {
            byte = flashPage(ramBank) + (address & 0x3FFF);
            end = flashImage.get() + FlashSize;
        } else {
            byte = ramPage(ramBank) + (address & 0x3FFF);
            end = ramImage.get() + RamSize;
        }
    } else {
        byte = ramImage.get() + (address & 0x3FFF);
        end = ramImage.get() + RamSize;
    }
    if (imageEnd != nullptr)
        *imageEnd = end;
    return byte;
}

void MemoryMap::writeBanked(int bank, bool window2, bool byteWide, uint16_t value, uint16_t address) {
    if (!imagesAllocated())
        return;
    const int savedRomBank = romBank, savedRomSelect = romSelect;
    const int savedRamBank = ramBank, savedRamSelect = ramSelect;
    const bool savedFlash = window2Flash, savedLcd = window2Lcd;

    if (window2) {
        setRamSelect(static_cast<uint8_t>(bank >> 8));
        setRamBankLow(static_cast<uint8_t>(bank));
    } else {
        setRomSelect(static_cast<uint8_t>(bank >> 8));
        setRomBankLow(static_cast<uint8_t>(bank));
    }
    const uint8_t* end;
    uint8_t* byte = hostByte(address, &end);
    if (end == flashImage.get() + FlashSize)
        ++flashWrites;
    byte[0] = static_cast<uint8_t>(value);
    // The second byte follows in the same image, not through the Z80 mapping;
    // at the image's last byte it has nowhere to go and is dropped.
    if (!byteWide && byte + 1 < end)
        byte[1] = static_cast<uint8_t>(value >> 8);

    romBank = savedRomBank;
    romSelect = savedRomSelect;
    ramBank = savedRamBank;
    ramSelect = savedRamSelect;
    window2Flash = savedFlash;
    window2Lcd = savedLcd;
    rebuildPages();
}
