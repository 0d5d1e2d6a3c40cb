// The machine's files that are not plain readable files: a save file that
// exists but cannot be read is reported and never overwritten, a failed save
// is reported with its reason, and a folder, FIFO or device as ROM image or
// application is a file that cannot be opened.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "MachineTestSupport.h"
#include "machine/Machine.h"

namespace {

using namespace machinetest;
namespace fs = std::filesystem;

class MachineFiles : public ::testing::Test {
protected:
    void SetUp() override { writeFile(romPath, std::vector<uint8_t>(4096, 0x76)); }

    ScratchDir dir;
    std::string romPath = dir.file("os.pgm");
    RecordingReporter reporter;
    FixedClock clock{FixedClock::at(2001, 2, 3, 4, 5, 6)};
};

TEST_F(MachineFiles, SaveFileThatExistsButCannotBeReadIsNeverOverwritten) {
    // The user's own folder, so that replacing the file would be allowed.
    const std::string own = dir.file("own");
    fs::create_directory(own);
    giveToNobody(own);
    const std::string locked = own + "/locked.sav";
    const std::vector<uint8_t> kept(Machine::SaveFileBytes, 0x3C);
    writeFile(locked, kept);
    giveToNobody(locked);
    chmod(locked.c_str(), 0);
    const std::string folder = own + "/folder.sav";
    fs::create_directory(folder);
    const std::string fifo = own + "/fifo.sav";  // no writer: must not hang the start
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);

    for (const std::string& save : {locked, folder, fifo, std::string("/dev/null")}) {
        // As an ordinary user: root would read the mode-000 file, and only
        // root could replace /dev/null.
        const std::string answer = inChild(
            [&] {
                RecordingReporter childReporter;
                Machine m(childReporter, clock);
                m.romImagePath = romPath;
                m.flashSavePath = save;
                if (!m.loadImages())
                    return std::string("did not start");
                const std::string expected = "cannot read save file '" + save + "'; it will not be overwritten.";
                if (m.saveFileStatus() != SaveFileStatus::Unreadable || m.saveFileMessage() != expected)
                    return "at start: " + m.saveFileMessage();
                m.stopMachine();
                if (m.saveFileStatus() != SaveFileStatus::Unreadable)
                    return "at stop: " + m.saveFileMessage();
                return childReporter.messages.empty() ? std::string() : "reported: " + childReporter.messages[0].text;
            },
            true);
        EXPECT_EQ(answer, "") << save;
    }
    EXPECT_EQ(readFile(locked), kept);
    EXPECT_EQ(modeOf(locked), 0u);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    // Nothing was written beside them either.
    EXPECT_EQ(std::distance(fs::directory_iterator(own), fs::directory_iterator()), 3);
}

TEST_F(MachineFiles, FailedSaveIsReportedWithItsReasonAndKeepsTheOldFile) {
    const std::string save = dir.file("pdemu.sav");
    const std::vector<uint8_t> old(100, 0x42);
    writeFile(save, old);
    Machine m(reporter, clock);
    m.romImagePath = romPath;
    m.flashSavePath = save;
    ASSERT_TRUE(m.loadImages());
    chmod(save.c_str(), 0444);  // made read-only while the machine ran
    m.stopMachine();
    EXPECT_EQ(m.saveFileStatus(), SaveFileStatus::NotWritten);
    EXPECT_EQ(m.saveFileMessage(), "cannot write save file '" + save + "': the file is read-only.");
    EXPECT_EQ(readFile(save), old);
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(MachineFiles, FolderFifoOrDeviceAsRomOrApplicationCannotBeOpened) {
    fs::create_directory(dir.file("folder"));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir.file("folder"), dir.file("fifo"), std::string("/dev/zero")}) {
        reporter.messages.clear();
        Machine rom(reporter, clock);
        rom.romImagePath = path;
        EXPECT_FALSE(rom.startMachine()) << path;
        EXPECT_FALSE(rom.memory.imagesAllocated()) << path;
        ASSERT_EQ(reporter.messages.size(), 1u) << path;
        EXPECT_EQ(reporter.messages[0].text, "cannot open ROM file '" + path + "'.");

        reporter.messages.clear();
        Machine app(reporter, clock);
        app.romImagePath = romPath;
        ASSERT_TRUE(app.loadImages());
        app.installApplication(path);
        ASSERT_EQ(reporter.messages.size(), 1u) << path;
        EXPECT_EQ(reporter.messages[0].text, "Cannot open application file.") << path;
        EXPECT_EQ(app.memory.flashImage[MemoryMap::PageSize], 0xFF) << path;
    }
}

}  // namespace
