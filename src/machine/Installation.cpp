// Machine::installApplication: copies an organiser application (*.app) into
// erased flash, stamps a free slot number into its header, restarts the
// organiser warm and loads the application's map or sym file for the
// debugger. Called by the front end's install command and its list of recent
// applications on the user-interface thread; failures are reported here.
//
// Application header: byte 0 is 0xC3, the word at 0x40 is the length in KB,
// the byte at 0x1A5 receives the slot (0x80-0xFE). Applications lie one after
// another from page firstAppPage, each starting on a page boundary.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "debugger/SymbolTable.h"
#include "host/HostFiles.h"
#include "machine/Machine.h"
#include "z80/Core.h"

namespace {

constexpr uint8_t AppFirstByte = 0xC3;
constexpr std::size_t SizeWordOffset = 0x40;
constexpr std::size_t SlotOffset = 0x1A5;
constexpr int FirstSlot = 0x80;
constexpr int LastSlot = 0xFE;
constexpr std::size_t HeaderBytes = 256;

// First page from firstPage on where length bytes of 0xFF begin, or -1.
int findErasedRun(const uint8_t* flash, int firstPage, uint64_t length) {
    for (int page = std::max(firstPage, 0); page < MemoryMap::FlashPages; ++page) {
        const uint64_t start = static_cast<uint64_t>(page) * MemoryMap::PageSize;
        if (start + length > MemoryMap::FlashSize)
            return -1;  // later pages leave even less room
        const uint8_t* begin = flash + start;
        if (std::all_of(begin, begin + length, [](uint8_t b) { return b == 0xFF; }))
            return page;
    }
    return -1;
}

}  // namespace

void Machine::installApplication(const std::string& path) {
    // The organiser restarts under the application: the debugger goes off.
    debugger.switchOff();

    // Only a regular file: a folder or a pipe is an application that cannot be opened.
    auto app = std::make_unique<InputFile>(path);
    if (!app->isOpen()) {
        reporter.showMessage(MessageIcon::Stop, "Cannot open application file.");
        return;
    }
    const uint64_t length = app->size();

    if (!memory.imagesAllocated()) {
        // No machine to install into; nothing the user could act on beyond this.
        reporter.showMessage(MessageIcon::Stop, "Not enough memory left to install application.");
        return;
    }

    pauseEmulation();
    uint8_t* flash = memory.flashImage.get();

    const int page = findErasedRun(flash, firstAppPage, length);
    if (page < 0) {
        resumeEmulation();
        app.reset();
        reporter.showMessage(MessageIcon::Stop, "Not enough memory left to install application.");
        return;
    }

    // Walk the applications below the space found and collect their slots.
    bool used[256] = {};
    for (int q = firstAppPage; q < page;) {
        const uint8_t* header = flash + static_cast<std::size_t>(q) * MemoryMap::PageSize;
        const int pages = (header[SizeWordOffset] | header[SizeWordOffset + 1] << 8) >> 4;
        if (pages == 0) {
            resumeEmulation();
            app.reset();
            reporter.showMessage(MessageIcon::Stop, "Flash file is corrupted. Cannot install application.");
            return;
        }
        used[header[SlotOffset]] = true;
        q += pages;
    }
    int slot = FirstSlot;
    while (slot <= LastSlot && used[slot])
        ++slot;
    if (slot > LastSlot) {
        resumeEmulation();
        app.reset();
        reporter.showMessage(MessageIcon::Stop, "Too many applications already installed.");
        return;
    }

    // The restart comes before validation: a rejected file still restarts the organiser.
    restartWarmState();

    uint8_t header[HeaderBytes];
    std::memset(header, 0xFF, sizeof header);
    std::size_t got = 0;
    (void)app->readAt(0, header, sizeof header, got);
    const uint64_t declared = (header[SizeWordOffset] | header[SizeWordOffset + 1] << 8) * uint64_t{1024};
    if (declared != length || header[0] != AppFirstByte) {
        resumeEmulation();
        app.reset();
        reporter.showMessage(MessageIcon::Stop, "Bad application file.");
        return;
    }

    uint8_t* target = flash + static_cast<std::size_t>(page) * MemoryMap::PageSize;
    (void)app->readAt(0, target, static_cast<std::size_t>(length), got);
    app.reset();
    target[SlotOffset] = static_cast<uint8_t>(slot);

    // The application's symbols become the debugger's: name.map, else name.sym.
    currentSymbols.reset();
    bool symbolsMissing = false;
    const std::string stem = path.size() > 4 ? path.substr(0, path.size() - 4) : std::string();
    if (path.size() > 4) {
        currentSymbols = loadSymbolFile(stem + ".map", 0);
        if (!currentSymbols || currentSymbols->openFailed) {
            currentSymbols = loadSymbolFile(stem + ".sym", 1);
            symbolsMissing = !currentSymbols || currentSymbols->openFailed;
        }
    }
    resumeEmulation();
    if (symbolsMissing)
        reporter.showMessage(MessageIcon::Information, "Cannot open map/sym file\n'" + stem + "'.");
}
