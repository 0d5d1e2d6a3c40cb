// HostFiles: only regular files are read, and the save file's write never
// loses the old content, whatever the path is and wherever the writer is
// killed. (printableText and sameExistingFile are tested through pdemu-run.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "MachineTestSupport.h"
#include "host/HostFiles.h"
#include "machine/Machine.h"

namespace {

using namespace machinetest;
namespace fs = std::filesystem;

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

WriteOutcome writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    // Two pieces, as the save file has: flash, then RAM.
    const std::size_t half = bytes.size() / 2;
    return writeFileSafely(path, {{bytes.data(), half}, {bytes.data() + half, bytes.size() - half}});
}

const std::vector<uint8_t> oldBytes(1000, 0x11);
const std::vector<uint8_t> newBytes(3000, 0x22);

TEST(HostFilesRead, OnlyRegularFilesAreRead) {
    ScratchDir dir;
    writeFile(dir.file("plain"), {'a', 'b', 'c'});
    writeFile(dir.file("empty"), {});
    fs::create_symlink("plain", dir.file("link"));
    fs::create_symlink("nowhere", dir.file("dangling"));
    fs::create_directory(dir.file("folder"));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);  // nobody writes: opening must not wait
    writeFile(dir.file("big"), std::vector<uint8_t>(11, 'x'));
    struct Case {
        std::string path;
        OpenStatus status;
        bool tooLarge;
        std::string text;
    };
    const Case cases[] = {
        {dir.file("plain"), OpenStatus::Opened, false, "abc"},
        {dir.file("empty"), OpenStatus::Opened, false, ""},
        {dir.file("link"), OpenStatus::Opened, false, "abc"},
        {dir.file("missing"), OpenStatus::Missing, false, ""},
        {dir.file("plain/below"), OpenStatus::Missing, false, ""},
        {dir.file("dangling"), OpenStatus::Missing, false, ""},
        {"", OpenStatus::Missing, false, ""},
        {dir.file("folder"), OpenStatus::NotRegular, false, ""},
        {dir.file("fifo"), OpenStatus::NotRegular, false, ""},
        {"/dev/zero", OpenStatus::NotRegular, false, ""},  // never read for ever
        {"/dev/null", OpenStatus::NotRegular, false, ""},
        {dir.file("big"), OpenStatus::Opened, true, ""},
    };
    for (const Case& c : cases) {
        const FileText got = readRegularFile(c.path, 10);
        EXPECT_EQ(got.status, c.status) << c.path;
        EXPECT_EQ(got.tooLarge, c.tooLarge) << c.path;
        EXPECT_EQ(got.text, c.text) << c.path;
    }
}

TEST(SafeWrite, NewFileGetsTheUmaskModeAndNothingElseAppears) {
    ScratchDir dir;
    const mode_t mask = umask(027);
    const WriteOutcome outcome = writeBytes(dir.file("pdemu.sav"), newBytes);
    umask(mask);
    ASSERT_TRUE(outcome.written) << outcome.problem;
    EXPECT_EQ(readFile(dir.file("pdemu.sav")), newBytes);
    EXPECT_EQ(modeOf(dir.file("pdemu.sav")), 0640u);
    EXPECT_EQ(namesIn(dir.path), std::set<std::string>{"pdemu.sav"});
}

TEST(SafeWrite, ReplacesARegularFileKeepingModeAndOwnerAndOtherNames) {
    ScratchDir dir;
    const std::string save = dir.file("pdemu.sav");
    writeFile(save, oldBytes);
    chmod(save.c_str(), 0604);
    giveToNobody(save);
    // A file of the user's that happens to carry the obvious temporary name.
    writeFile(save + ".tmp", {7, 7});
    const WriteOutcome outcome = writeBytes(save, newBytes);
    ASSERT_TRUE(outcome.written) << outcome.problem;
    EXPECT_EQ(readFile(save), newBytes);
    EXPECT_EQ(modeOf(save), 0604u);
    if (geteuid() == 0) {
        struct stat st{};
        ASSERT_EQ(stat(save.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, nobody().uid);
    }
    EXPECT_EQ(readFile(save + ".tmp"), (std::vector<uint8_t>{7, 7}));
    EXPECT_EQ(namesIn(dir.path), (std::set<std::string>{"pdemu.sav", "pdemu.sav.tmp"}));
}

TEST(SafeWrite, WritesThroughLinksToTheirTargetAndKeepsTheLinks) {
    ScratchDir dir;
    fs::create_directory(dir.file("real"));
    struct Case {
        std::string link;
        std::string linkTarget;  // as stored in the link
        std::string file;        // where the bytes must land
        bool fileExists;
    };
    const Case cases[] = {
        {"relative", "real/a.sav", dir.file("real/a.sav"), true},
        {"absolute", dir.file("real/b.sav"), dir.file("real/b.sav"), true},
        {"dangling", "real/c.sav", dir.file("real/c.sav"), false},
        {"chain", "relative", dir.file("real/a.sav"), true},
    };
    for (const Case& c : cases) {
        if (c.fileExists)
            writeFile(c.file, oldBytes);
        fs::create_symlink(c.linkTarget, dir.file(c.link));
        const WriteOutcome outcome = writeBytes(dir.file(c.link), newBytes);
        ASSERT_TRUE(outcome.written) << c.link << ": " << outcome.problem;
        EXPECT_TRUE(fs::is_symlink(dir.file(c.link))) << c.link;
        EXPECT_EQ(fs::read_symlink(dir.file(c.link)).string(), c.linkTarget) << c.link;
        EXPECT_EQ(readFile(c.file), newBytes) << c.link;
    }
    EXPECT_EQ(namesIn(dir.file("real")), (std::set<std::string>{"a.sav", "b.sav", "c.sav"}));
}

TEST(SafeWrite, ReadOnlyFileIsLeftAloneEvenForRoot) {
    ScratchDir dir;
    const std::string save = dir.file("pdemu.sav");
    writeFile(save, oldBytes);
    chmod(save.c_str(), 0444);
    const WriteOutcome outcome = writeBytes(save, newBytes);
    EXPECT_FALSE(outcome.written);
    EXPECT_EQ(outcome.problem, "the file is read-only");
    EXPECT_EQ(readFile(save), oldBytes);
    EXPECT_EQ(modeOf(save), 0444u);
    EXPECT_EQ(namesIn(dir.path), std::set<std::string>{"pdemu.sav"});
}

TEST(SafeWrite, NonRegularTargetsAreWrittenInPlaceOrNotAtAll) {
    ScratchDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // No reader: fails at once instead of waiting, and stays a FIFO.
    EXPECT_FALSE(writeBytes(fifo, newBytes).written);
    EXPECT_TRUE(fs::is_fifo(fifo));

    // With a reader it gets the bytes in place.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    fcntl(reader, F_SETFL, fcntl(reader, F_GETFL) & ~O_NONBLOCK);
    std::vector<uint8_t> received;
    std::thread drain([&] {
        // Before the writer opens, read sees end of file; go on until all came.
        uint8_t buffer[4096];
        while (received.size() < newBytes.size()) {
            const ssize_t n = read(reader, buffer, sizeof buffer);
            if (n > 0)
                received.insert(received.end(), buffer, buffer + n);
            else
                std::this_thread::yield();
        }
    });
    const WriteOutcome outcome = writeBytes(fifo, newBytes);
    drain.join();
    close(reader);
    EXPECT_TRUE(outcome.written) << outcome.problem;
    EXPECT_EQ(received, newBytes);
    EXPECT_TRUE(fs::is_fifo(fifo));

    fs::create_directory(dir.file("folder"));
    EXPECT_FALSE(writeBytes(dir.file("folder"), newBytes).written);
    EXPECT_TRUE(fs::is_directory(dir.file("folder")));
    EXPECT_EQ(namesIn(dir.path), (std::set<std::string>{"fifo", "folder"}));
}

TEST(SafeWrite, UnwritableFolderFallsBackToWritingTheFileInPlace) {
    ScratchDir dir;  // root's folder: nobody may not create files in it
    const std::string save = dir.file("pdemu.sav");
    writeFile(save, std::vector<uint8_t>(5000, 0x33));  // longer than the new content
    giveToNobody(save);
    chmod(save.c_str(), 0640);
    const std::string answer = inChild(
        [&] {
            if (access(dir.path.c_str(), W_OK) == 0)
                return std::string("the folder is writable: the case does not arise");
            const WriteOutcome outcome = writeBytes(save, newBytes);
            return outcome.written ? std::string() : outcome.problem;
        },
        true);
    if (answer == "the folder is writable: the case does not arise")
        GTEST_SKIP() << "running unprivileged in a folder of our own, and cannot become another user";
    EXPECT_EQ(answer, "");
    EXPECT_EQ(readFile(save), newBytes);
    EXPECT_EQ(modeOf(save), 0640u);
    EXPECT_EQ(namesIn(dir.path), std::set<std::string>{"pdemu.sav"});
}

TEST(SafeWrite, FailedWriteKeepsTheOldFileAndRemovesTheTemporary) {
    ScratchDir dir;
    const std::string save = dir.file("pdemu.sav");
    writeFile(save, oldBytes);
    // A file size limit stands in for a full disk: the write fails halfway.
    const std::string answer = inChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit cap{2000, 2000};
        setrlimit(RLIMIT_FSIZE, &cap);
        const WriteOutcome outcome = writeBytes(save, newBytes);
        return outcome.written ? std::string("written") : outcome.problem;
    });
    EXPECT_EQ(answer, "File too large");
    EXPECT_EQ(readFile(save), oldBytes);
    EXPECT_EQ(namesIn(dir.path), std::set<std::string>{"pdemu.sav"});
}

// A child saves full-size files in a loop, alternating two contents; it is
// killed with SIGKILL after a random delay, many times. The file must always
// be one of the two, whole.
TEST(SafeWrite, SurvivesBeingKilledAtAnyPoint) {
    ScratchDir dir;
    const std::string save = dir.file("pdemu.sav");
    const std::vector<uint8_t> first(Machine::SaveFileBytes, 0xA5);
    const std::vector<uint8_t> second(Machine::SaveFileBytes, 0x5A);
    ASSERT_TRUE(writeBytes(save, first).written);
    std::mt19937 random(12345);
    int sawFirst = 0, sawSecond = 0;
    for (int round = 0; round < 40; ++round) {
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(started[0]);
            for (unsigned i = 0;; ++i) {
                (void)writeBytes(save, (i & 1) ? first : second);
                if (i == 0)
                    (void)!write(started[1], "x", 1);
            }
        }
        close(started[1]);
        char byte;
        ASSERT_EQ(read(started[0], &byte, 1), 1);  // one save done: the loop is under way
        close(started[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        const std::vector<uint8_t> now = readFile(save);
        ASSERT_EQ(now.size(), Machine::SaveFileBytes) << "round " << round;
        const bool isFirst = now == first, isSecond = now == second;
        ASSERT_TRUE(isFirst || isSecond) << "torn in round " << round;
        sawFirst += isFirst;
        sawSecond += isSecond;
    }
    // Both contents turned up: the kills did land between and inside saves.
    EXPECT_GT(sawFirst, 0);
    EXPECT_GT(sawSecond, 0);
}

}  // namespace
