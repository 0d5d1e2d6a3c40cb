// MemoryMap: the organiser's memory as the Z80 sees it.
//
// Owns the two host images (3 MB of flash whose first 1 MB holds the ROM, and
// 128 KB of RAM), the page registers behind ports 5-8, the flash command
// interpreter and the display controller that window 2 can show. The processor
// core (through MachineBus), the disassembler and the debugger windows read
// and write Z80 memory only through readByte/writeByte; the port handlers
// (Ports) call the set* operations; the register editor uses writeBanked.
//
// Z80 address space, four windows of 16 KB:
//   0x0000-0x3FFF  flash page 0, read-only
//   0x4000-0x7FFF  window 1: flash page romBank; writes feed the flash command
//                  interpreter and are never stored directly
//   0x8000-0xBFFF  window 2: display controller, flash page ramBank (read-only)
//                  or RAM page ramBank
//   0xC000-0xFFFF  RAM page 0
//
// Speed: readByte/writeByte run for every fetch, so each window has a base
// for reading and one for writing: the host address of its page minus the
// window's Z80 base, so base + Z80 address is the host byte. Reads never
// branch: the answers that are not array data come from pages made for them
// (constant identifier, status and no-image pages, and a shadow of the
// display registers that the display writes and column changes keep
// current). A write base of 0 sends the write to the slow path (flash
// commands, the display, dropped writes). Every change of the mapping state
// goes through the set* operations, which rebuild the pointers; code that
// changes the public fields directly, or re-points or writes screenBits while
// window 2 shows the display, must call rebuildPages() afterwards.
//
// The page registers can name RAM pages 8-63, which the 128 KB image does not
// have: window 2 then shows RAM page (ramBank modulo 8), so no access ever
// leaves the image.
//
// Threads: everything here runs on the emulation thread, except writeBanked,
// which the register editor calls while the debugger holds that thread, and
// the screen, which the device window shows while the machine draws: the
// display's bytes are stored as relaxed atomics, and another thread reads
// them only through copyScreen (after screenChanged, which it clears).
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

enum class FlashMode : uint8_t { ReadArray = 0, ReadId = 1, ReadStatus = 2, ProgramSetup = 3, EraseSetup = 4 };

class MemoryMap {
public:
    static constexpr std::size_t PageSize = 16384;
    static constexpr int FlashPages = 192;
    static constexpr int RamPages = 8;
    static constexpr std::size_t FlashSize = PageSize * FlashPages;  // 3,145,728
    static constexpr std::size_t RamSize = PageSize * RamPages;      // 131,072
    // Screen bitmap: 304 lines of 20 bytes, bottom-up; lines 0-239 from the top are the display.
    static constexpr int ScreenStride = 20;
    static constexpr int ScreenLines = 304;
    static constexpr std::size_t ScreenBytes = ScreenStride * ScreenLines;  // 6,080

    MemoryMap();
    MemoryMap(const MemoryMap&) = delete;
    MemoryMap& operator=(const MemoryMap&) = delete;

    // Allocates both images (flash 0xFF, RAM 0). False when memory is short.
    bool allocateImages();
    void releaseImages();
    bool imagesAllocated() const { return flashImage != nullptr && ramImage != nullptr; }

    // Page registers, flash mode, display column and screenChanged to 0.
    void resetMapping();

    uint8_t readByte(uint16_t address) const {
        // Widened once, so the window index and the byte share one zero-extended copy.
        const std::size_t a = address;
        return *reinterpret_cast<const uint8_t*>(readBase[a >> 14] + a);
    }

    // Two bytes, low first, as two readByte calls would answer them; one window
    // lookup unless the pair straddles a window edge (or wraps to 0x0000).
    uint16_t readWord(uint16_t address) const {
        const std::size_t a = address;
        if constexpr (std::endian::native == std::endian::little) {
            if ((a & 0x3FFF) != 0x3FFF) [[likely]] {
                uint16_t word;
                std::memcpy(&word, reinterpret_cast<const uint8_t*>(readBase[a >> 14] + a), 2);
                return word;
            }
        }
        return static_cast<uint16_t>(readByte(address) | readByte(static_cast<uint16_t>(address + 1)) << 8);
    }

    void writeByte(uint16_t address, uint8_t value) {
        const std::size_t a = address;
        const uintptr_t base = writeBase[a >> 14];
        if (base != 0) [[likely]] {
            *reinterpret_cast<uint8_t*>(base + a) = value;
            return;
        }
        writeSlow(address, value);
    }

    // Port 5, 6, 7 and 8 writes.
    void setRomBankLow(uint8_t value);
    void setRomSelect(uint8_t value);
    void setRamBankLow(uint8_t value);
    void setRamSelect(uint8_t value);

    // The register editor's store under an explicit bank (high byte: select
    // value, low byte: bank low bits); the mapping is the same afterwards.
    // Page 0 is writable this way; the display is never the target.
    void writeBanked(int bank, bool window2, bool byteWide, uint16_t value, uint16_t address);

    // Host byte that address maps to with the display left out (window 2 then
    // shows flash or RAM by window2Flash), and the end of its image. Used by
    // writeBanked and the print trap.
    uint8_t* hostByte(uint16_t address, const uint8_t** imageEnd = nullptr) const;

    // A byte of a flash or RAM page by its offset (wrapping within the page;
    // a flash page past the last is the last, a RAM page is taken modulo 8).
    uint8_t* pageByte(bool ram, int page, uint16_t offset) const {
        const std::size_t at = offset & (PageSize - 1);
        if (ram)
            return ramPage(page < 0 ? 0 : page) + at;
        return flashPage(page < 0 ? 0 : (page >= FlashPages ? FlashPages - 1 : page)) + at;
    }

    // Recomputes the window bases from the mapping state.
    void rebuildPages();

    std::unique_ptr<uint8_t[]> flashImage;
    std::unique_ptr<uint8_t[]> ramImage;

    int romBank = 0;    // 0-191, page of window 1
    int romSelect = 0;  // last port-6 value
    int ramBank = 0;    // 0-127, page of window 2
    int ramSelect = 0;  // last port-8 value
    bool window2Flash = false;
    bool window2Lcd = false;  // takes precedence over window2Flash
    FlashMode flashMode = FlashMode::ReadArray;
    int lcdColumn = 0;  // byte column the display lines address; valid 0-19

    // Counts the program and erase commands (and banked stores into flash):
    // a flash page can have changed only when this has. Emulation thread.
    uint32_t flashWrites = 0;

    // Pixel memory of the screen bitmap; the front end points it at its own
    // bitmap before the machine starts. Never null.
    uint8_t* screenBits;
    // The whole bitmap as it is now (ScreenBytes into out), from any thread:
    // a display write made before screenChanged was seen set is in it.
    void copyScreen(uint8_t* out) const;
    // 1 after every display write; the device window clears it when it repaints.
    std::atomic<int> screenChanged{0};

private:
    // rebuildPages, refreshing the display shadow only when window 2 newly
    // shows the display: while it does, the display writes keep it current.
    void updatePages(bool refreshShadow);
    void refreshDisplayShadow();
    void writeSlow(uint16_t address, uint8_t value);
    void flashCommand(uint16_t address, uint8_t value);
    uint8_t* ramPage(int page) const { return ramImage.get() + static_cast<std::size_t>(page % RamPages) * PageSize; }
    uint8_t* flashPage(int page) const { return flashImage.get() + static_cast<std::size_t>(page) * PageSize; }

    uintptr_t readBase[4] = {};
    uintptr_t writeBase[4] = {};
    uint8_t defaultScreen[ScreenBytes] = {};
    // What window 2 reads while it shows the display: the column register at
    // offset 0, the current column's screen bytes at 0x100-0x1EF, 0 elsewhere.
    uint8_t displayShadow[PageSize] = {};
};
