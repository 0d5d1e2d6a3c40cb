// Application installation: placement, slot numbers, the walk over installed
// applications, every failure message, the warm restart and the symbol files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "debugger/SymbolTable.h"
#include "machine/Machine.h"
#include "MachineTestSupport.h"

namespace {

using namespace machinetest;

constexpr std::size_t Page = MemoryMap::PageSize;
constexpr std::size_t SlotOffset = 0x1A5;

// An application of kilobytes KB: JP at 0, size word at 0x40, a body pattern.
std::vector<uint8_t> makeApp(int kilobytes, int sizeWord = -1, uint8_t firstByte = 0xC3) {
    std::vector<uint8_t> app(static_cast<std::size_t>(kilobytes) * 1024);
    for (std::size_t i = 0; i < app.size(); ++i)
        app[i] = static_cast<uint8_t>(i % 251);
    if (app.empty())
        return app;
    const int word = sizeWord < 0 ? kilobytes : sizeWord;
    app[0] = firstByte;
    app[0x40] = static_cast<uint8_t>(word);
    app[0x41] = static_cast<uint8_t>(word >> 8);
    app[SlotOffset] = 0x00;
    return app;
}

class InstallationTest : public ::testing::Test {
protected:
    void SetUp() override { startWithRom(1048576); }

    // Loads a ROM of romBytes (firstAppPage follows from it) without a thread.
    void startWithRom(std::size_t romBytes) {
        writeFile(dir.file("os.pgm"), std::vector<uint8_t>(romBytes, 0x00));
        machine = std::make_unique<Machine>(reporter, clock);
        machine->romImagePath = dir.file("os.pgm");
        ASSERT_TRUE(machine->loadImages());
    }

    // Puts an installed application's header at a page by hand.
    void placeHeader(int page, int sizeWord, uint8_t slot) {
        uint8_t* p = &machine->memory.flashImage[page * Page];
        p[0] = 0xC3;
        p[0x40] = static_cast<uint8_t>(sizeWord);
        p[0x41] = static_cast<uint8_t>(sizeWord >> 8);
        p[SlotOffset] = slot;
    }

    // Writes the application and, unless told otherwise, an empty map file beside it.
    std::string writeApp(const std::string& name, const std::vector<uint8_t>& bytes, bool withMap = true) {
        const std::string path = dir.file(name);
        writeFile(path, bytes);
        if (withMap)
            writeFile(path.substr(0, path.size() - 4) + ".map", {});
        return path;
    }

    uint8_t flash(int page, std::size_t offset) const { return machine->memory.flashImage[page * Page + offset]; }

    bool pageErased(int page) const {
        const uint8_t* p = &machine->memory.flashImage[page * Page];
        return std::all_of(p, p + Page, [](uint8_t b) { return b == 0xFF; });
    }

    // Marks the processor so a warm restart shows.
    void markCpu() {
        machine->cpu.PC.w = 0x1234;
        machine->startKeyHold = 0;
        machine->cpu.cyclePeriod = 7;
    }
    bool restarted() const {
        return machine->cpu.PC.w == 0 && machine->startKeyHold == 1 && machine->startKeyReads == 100 &&
               machine->cpu.cyclePeriod == 100;
    }

    void expectOnlyMessage(MessageIcon icon, const std::string& text) {
        ASSERT_EQ(reporter.messages.size(), 1u);
        EXPECT_EQ(reporter.messages[0].icon, icon);
        EXPECT_EQ(reporter.messages[0].text, text);
        reporter.messages.clear();
    }

    ScratchDir dir;
    RecordingReporter reporter;
    FixedClock clock{FixedClock::at(2005, 6, 7, 8, 9, 10)};
    std::unique_ptr<Machine> machine;
};

TEST_F(InstallationTest, SlotsInOrderRestartAndSymbolFiles) {
    const std::vector<uint8_t> first = makeApp(32);
    writeFile(dir.file("first.map"), {});
    machine->debugger.windowShown();
    markCpu();
    machine->installApplication(writeApp("first.app", first, false));
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_TRUE(machine->debugger.isOff());
    EXPECT_TRUE(restarted());
    EXPECT_EQ(machine->firstAppPage, 65);
    EXPECT_EQ(flash(65, SlotOffset), 0x80);
    EXPECT_EQ(flash(65, 0), 0xC3);
    EXPECT_EQ(flash(66, Page - 1), first[2 * Page - 1]);
    EXPECT_EQ(flash(65, SlotOffset + 1), first[SlotOffset + 1]);
    EXPECT_TRUE(pageErased(67));
    ASSERT_NE(machine->currentSymbols, nullptr);
    EXPECT_FALSE(machine->currentSymbols->openFailed);

    // Only a sym file: the map is tried first, then the sym file is current.
    writeFile(dir.file("second.sym"), {});
    machine->installApplication(writeApp("second.app", makeApp(32), false));
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(flash(67, SlotOffset), 0x81);
    ASSERT_NE(machine->currentSymbols, nullptr);
    EXPECT_FALSE(machine->currentSymbols->openFailed);

    // Neither: an information message, and an empty table stays current.
    std::filesystem::create_directories(dir.path / "apps");
    machine->installApplication(writeApp("apps/clock.app", makeApp(16), false));
    expectOnlyMessage(MessageIcon::Information, "Cannot open map/sym file\n'" + dir.file("apps/clock") + "'.");
    EXPECT_EQ(flash(69, SlotOffset), 0x82);
    ASSERT_NE(machine->currentSymbols, nullptr);
    EXPECT_TRUE(machine->currentSymbols->openFailed);

    // A path of four characters or fewer loads no symbols and says nothing.
    const auto oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    writeFile("a.ap", makeApp(16));
    machine->installApplication("a.ap");
    std::filesystem::current_path(oldCwd);
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(machine->currentSymbols, nullptr);
    EXPECT_EQ(flash(70, SlotOffset), 0x83);
}

TEST_F(InstallationTest, WalkFindsGapsAndCountsSizeWordPages) {
    // Slots 0x80 and 0x82 in use: the next is 0x81.
    placeHeader(65, 16, 0x80);
    placeHeader(66, 16, 0x82);
    machine->installApplication(writeApp("gap.app", makeApp(16)));
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(flash(67, SlotOffset), 0x81);

    // A 20 KB application covers two pages but counts as one (20 div 16):
    // the walk reads its second page as the next header.
    std::vector<uint8_t> big = makeApp(20);
    big[Page + 0x40] = 16;  // what the walk will take for a size word
    big[Page + 0x41] = 0;
    big[Page + SlotOffset] = 0x83;
    machine->installApplication(writeApp("big.app", big));
    EXPECT_EQ(flash(68, SlotOffset), 0x83);
    EXPECT_EQ(flash(69, 0x40), 16);
    machine->installApplication(writeApp("next.app", makeApp(16)));
    EXPECT_EQ(flash(70, SlotOffset), 0x84);  // 0x83 seen twice, so 0x84 is the lowest free
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(InstallationTest, ErasedFirstPageEndsTheWalk) {
    placeHeader(66, 16, 0x80);  // page 65 erased, an application behind it
    machine->installApplication(writeApp("a.app", makeApp(32)));
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(flash(67, SlotOffset), 0x80);
    EXPECT_EQ(flash(67, 0), 0xC3);
    EXPECT_TRUE(pageErased(65));
}

TEST_F(InstallationTest, FailuresBeforeTheRestart) {
    // File that does not open: the debugger is released anyway.
    machine->debugger.windowShown();
    markCpu();
    machine->installApplication(dir.file("none.app"));
    expectOnlyMessage(MessageIcon::Stop, "Cannot open application file.");
    EXPECT_TRUE(machine->debugger.isOff());
    EXPECT_FALSE(restarted());

    // No erased run long enough from firstAppPage to page 191.
    machine->installApplication(writeApp("huge.app", makeApp(127 * 16 + 1)));
    expectOnlyMessage(MessageIcon::Stop, "Not enough memory left to install application.");
    EXPECT_FALSE(restarted());
    EXPECT_TRUE(pageErased(65));
    EXPECT_TRUE(pageErased(191));
    machine->installApplication(writeApp("fits.app", makeApp(127 * 16)));
    EXPECT_TRUE(restarted());
    EXPECT_EQ(flash(191, Page - 1), makeApp(127 * 16).back());
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(InstallationTest, CorruptSizeWordStopsInstallation) {
    placeHeader(65, 0x000F, 0x80);
    std::memset(&machine->memory.flashImage[65 * Page + 0x200], 0x00, 16);  // not erased
    markCpu();
    machine->installApplication(writeApp("a.app", makeApp(16)));
    expectOnlyMessage(MessageIcon::Stop, "Flash file is corrupted. Cannot install application.");
    EXPECT_FALSE(restarted());
    EXPECT_TRUE(pageErased(66));

    placeHeader(65, 0x0010, 0x80);  // 16 KB is a valid size
    machine->installApplication(writeApp("a.app", makeApp(16)));
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(flash(66, SlotOffset), 0x81);
}

TEST_F(InstallationTest, AllSlotsUsed) {
    startWithRom(4096);  // applications from page 1
    ASSERT_EQ(machine->firstAppPage, 1);
    for (int i = 0; i < 127; ++i)
        placeHeader(1 + i, 16, static_cast<uint8_t>(0x80 + i));
    markCpu();
    machine->installApplication(writeApp("a.app", makeApp(16)));
    expectOnlyMessage(MessageIcon::Stop, "Too many applications already installed.");
    EXPECT_FALSE(restarted());
    EXPECT_TRUE(pageErased(128));

    placeHeader(50, 16, 0x10);  // a slot outside 0x80-0xFE frees 0xB1
    machine->installApplication(writeApp("a.app", makeApp(16)));
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(flash(128, SlotOffset), 0x80 + 49);
}

TEST_F(InstallationTest, BadApplicationFilesAfterTheRestart) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> oddLength = makeApp(1);
    oddLength.push_back(0);
    const Case cases[] = {
        {"odd length", oddLength},
        {"size word disagrees", makeApp(2, 1)},
        {"first byte", makeApp(16, -1, 0xC9)},
        {"empty", {}},
        {"short header", std::vector<uint8_t>{0xC3, 0x00}},
    };
    for (const Case& c : cases) {
        markCpu();
        machine->installApplication(writeApp("bad.app", c.bytes));
        SCOPED_TRACE(c.name);
        expectOnlyMessage(MessageIcon::Stop, "Bad application file.");
        EXPECT_TRUE(restarted());
        EXPECT_TRUE(pageErased(65));
    }
}

TEST_F(InstallationTest, InstallsIntoARunningMachineHeldByTheDebugger) {
    writeFile(dir.file("os.pgm"), {0xF3, 0x18, 0xFE});  // DI; JR $ (the debugger does not stop on a HALT)
    machine = std::make_unique<Machine>(reporter, clock);
    machine->romImagePath = dir.file("os.pgm");
    ASSERT_TRUE(machine->startMachine());
    machine->debugger.windowShown();
    ASSERT_TRUE(waitFor([&] { return machine->debugger.isHeld(); }));

    machine->installApplication(writeApp("a.app", makeApp(16), false));
    expectOnlyMessage(MessageIcon::Information, "Cannot open map/sym file\n'" + dir.file("a") + "'.");
    EXPECT_TRUE(machine->debugger.isOff());
    EXPECT_FALSE(machine->pauseRequested());
    const uint64_t after = machine->elapsedTStates.load();
    EXPECT_TRUE(waitFor([&] { return machine->elapsedTStates.load() > after; }));  // running again
    machine->pauseEmulation();
    EXPECT_EQ(flash(1, SlotOffset), 0x80);
    EXPECT_EQ(machine->cpu.PC.w, 1);  // restarted from 0 and spinning again
    machine->resumeEmulation();
    machine->stopMachine();
}

}  // namespace
