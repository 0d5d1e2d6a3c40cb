// The screen recording's file: frames only for display changes, each the band
// of rows that changed, delays in milliseconds that add up to the recording,
// hold frames for long stills, the size limit and write errors ending it
// with a complete file, and the reader refusing damaged files.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "machine/MemoryMap.h"
#include "machine/ScreenPng.h"
#include "machine/ScreenRecording.h"

namespace fs = std::filesystem;

namespace {

using Outcome = ScreenRecording::Outcome;
using Bitmap = std::vector<uint8_t>;

// A bitmap as the machine keeps it: bottom-up, the display in the top 240 lines.
Bitmap paper() { return Bitmap(MemoryMap::ScreenBytes, 0); }
void setRow(Bitmap& bits, int y, uint8_t value) {
    for (int c = 0; c < 20; ++c)
        bits[(303 - y) * 20 + c] = value;
}
// The display as the reader gives it: top row first.
std::vector<uint8_t> display(const Bitmap& bits) {
    std::vector<uint8_t> rows;
    for (int y = 0; y < 240; ++y)
        rows.insert(rows.end(), &bits[(303 - y) * 20], &bits[(303 - y) * 20] + 20);
    return rows;
}
Bitmap noise(uint32_t seed) {
    Bitmap bits = paper();
    for (std::size_t i = 20 * 64; i < bits.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        bits[i] = static_cast<uint8_t>(seed >> 24);
    }
    return bits;
}
uint64_t delaySum(const RecordedScreen& screen) {
    uint64_t sum = 0;
    for (const RecordedFrame& f : screen.frames)
        sum += f.delayNum;
    return sum;
}

class Recording : public ::testing::Test {
protected:
    void SetUp() override {
        path = (fs::path(::testing::TempDir()) / ("pdemu-rec-" + std::to_string(::getpid()) + ".png")).string();
    }
    void TearDown() override { fs::remove(path); }
    std::string path;
};

}  // namespace

TEST_F(Recording, EveryDisplayChangeIsOneFrameOfTheRowsThatChanged) {
    Bitmap bits = paper();
    ScreenRecording rec;
    ASSERT_TRUE(rec.open(path));
    std::vector<Bitmap> expected;
    struct Step {
        uint64_t us;
        std::vector<std::pair<int, uint8_t>> rows;  // display rows set; a row >= 240 is the strip
        Outcome outcome;
    };
    const Step steps[] = {
        {0, {{5, 0x0F}}, Outcome::Added},                    // the first frame, always whole
        {100'000, {}, Outcome::Unchanged},                   // nothing drawn
        {250'000, {{10, 0xFF}, {12, 0x81}}, Outcome::Added}, // rows 10-12
        {300'000, {{250, 0xFF}}, Outcome::Unchanged},        // the strip is not the display
        {400'000, {{12, 0x81}}, Outcome::Unchanged},         // drawn again, the same
        {1'000'000, {{0, 0x01}, {239, 0x80}}, Outcome::Added},
    };
    for (const Step& step : steps) {
        for (const auto& [y, value] : step.rows)
            setRow(bits, y, value);
        EXPECT_EQ(rec.addFrame(bits.data(), step.us), step.outcome) << step.us;
        if (step.outcome == Outcome::Added)
            expected.push_back(bits);
    }
    EXPECT_EQ(rec.frameCount(), 3u);
    EXPECT_EQ(rec.finish(bits.data(), 1'500'000), Outcome::Unchanged);
    EXPECT_FALSE(rec.isOpen());

    const RecordedScreen read = readScreenRecording(path);
    ASSERT_EQ(read.problem, "");
    ASSERT_EQ(read.frames.size(), 3u);
    EXPECT_EQ(read.plays, 0u);
    const int tops[] = {0, 10, 0}, rows[] = {240, 3, 240}, delays[] = {250, 750, 500};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(read.frames[i].pixels, display(expected[i])) << i;
        EXPECT_EQ(read.frames[i].top, tops[i]) << i;
        EXPECT_EQ(read.frames[i].rows, rows[i]) << i;
        EXPECT_EQ(read.frames[i].delayNum, delays[i]) << i;
        EXPECT_EQ(read.frames[i].delayDen, 1000) << i;
    }
    EXPECT_EQ(delaySum(read), 1500u);  // from the first frame to the end
    // A viewer without animation shows the first frame.
    EXPECT_EQ(decodeScreenPng(path), display(expected[0]));
}

TEST_F(Recording, DelaysAddUpToTheRecordingWhateverTheTimes) {
    struct Case {
        const char* what;
        std::vector<uint64_t> us;  // frame times, then the end
        std::vector<uint16_t> delays;
    };
    const Case cases[] = {
        {"odd microseconds", {1'400, 334'499, 334'501, 1'000'000}, {333, 1, 665}},
        {"a time before the last counts as the same moment", {50'000, 40'000, 90'000}, {0, 40}},
        {"the end before the last frame", {0, 500'000, 200'000}, {500, 0}},
        {"a still past a delay's reach is held",
         {0, 200'000'000, 201'000'000},
         {65535, 65535, 65535, 3395, 1000}},
    };
    for (const Case& c : cases) {
        ScreenRecording rec;
        ASSERT_TRUE(rec.open(path));
        std::vector<Bitmap> screens;
        for (std::size_t i = 0; i + 1 < c.us.size(); ++i) {
            Bitmap bits = paper();
            setRow(bits, static_cast<int>(i), 0xFF);
            screens.push_back(bits);
            ASSERT_EQ(rec.addFrame(bits.data(), c.us[i]), Outcome::Added) << c.what;
        }
        ASSERT_EQ(rec.finish(screens.back().data(), c.us.back()), Outcome::Unchanged) << c.what;
        const RecordedScreen read = readScreenRecording(path);
        ASSERT_EQ(read.problem, "") << c.what;
        std::vector<uint16_t> delays;
        for (const RecordedFrame& f : read.frames)
            delays.push_back(f.delayNum);
        EXPECT_EQ(delays, c.delays) << c.what;
        // Hold frames repeat the picture; the last frame is the last screen.
        for (std::size_t i = 1; i + 1 < read.frames.size(); ++i)
            if (read.frames[i].rows == 1) {
                EXPECT_EQ(read.frames[i].pixels, read.frames[i - 1].pixels) << c.what;
            }
        EXPECT_EQ(read.frames.back().pixels, display(screens.back())) << c.what;
    }
}

TEST_F(Recording, TheSizeLimitEndsTheFileCompleteAtTheFrameBefore) {
    ScreenRecording rec;
    ASSERT_TRUE(rec.open(path, 1000));  // raised to the smallest limit
    std::vector<Bitmap> added;
    Outcome outcome = Outcome::Added;
    uint32_t n = 0;
    for (; n < 100 && outcome == Outcome::Added; ++n) {
        const Bitmap bits = noise(n);
        outcome = rec.addFrame(bits.data(), n * 100'000ull);
        if (outcome == Outcome::Added)
            added.push_back(bits);
    }
    ASSERT_EQ(outcome, Outcome::EndedAtLimit);
    EXPECT_FALSE(rec.isOpen());
    EXPECT_LE(fs::file_size(path), ScreenRecording::SmallestSizeLimit);
    EXPECT_GT(fs::file_size(path), ScreenRecording::SmallestSizeLimit - 6000);  // a noise frame is under 6 KB
    EXPECT_EQ(rec.finish(added.back().data(), 99'000'000), Outcome::WriteFailed);  // nothing open any more

    // Every frame but the one that was taken last and the one that did not fit.
    const RecordedScreen read = readScreenRecording(path);
    ASSERT_EQ(read.problem, "");
    ASSERT_EQ(read.frames.size(), added.size() - 1);
    for (std::size_t i = 0; i < read.frames.size(); ++i) {
        EXPECT_EQ(read.frames[i].pixels, display(added[i])) << i;
        EXPECT_EQ(read.frames[i].delayNum, 100) << i;
    }
}

TEST_F(Recording, AWriteErrorEndsTheRecordingAndSaysWhy) {
    ScreenRecording cannot;
    EXPECT_FALSE(cannot.open("/nonexistent-dir/rec.png"));
    EXPECT_NE(cannot.problem(), "");
    EXPECT_FALSE(cannot.open("/dev/full"));  // the header meets a full disk
    EXPECT_NE(cannot.problem(), "");

    // A file size limit stands in for a full disk mid-recording.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 20'000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ScreenRecording rec;
    Outcome outcome = rec.open(path) ? Outcome::Added : Outcome::WriteFailed;
    for (uint32_t n = 0; n < 50 && outcome == Outcome::Added; ++n) {
        const Bitmap bits = noise(n);
        outcome = rec.addFrame(bits.data(), n * 1000ull);
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(outcome, Outcome::WriteFailed);
    EXPECT_FALSE(rec.isOpen());
    EXPECT_NE(rec.problem(), "");
    EXPECT_NE(readScreenRecording(path).problem, "");
}

TEST_F(Recording, TheReaderRefusesDamagedAndUnfinishedFiles) {
    {
        ScreenRecording rec;
        ASSERT_TRUE(rec.open(path));
        for (uint32_t n = 0; n < 3; ++n) {
            const Bitmap bits = noise(n);
            ASSERT_EQ(rec.addFrame(bits.data(), n * 1000ull), Outcome::Added);
        }
    }  // finished by the destructor
    const RecordedScreen whole = readScreenRecording(path);
    ASSERT_EQ(whole.problem, "");
    EXPECT_EQ(whole.frames.size(), 3u);
    EXPECT_EQ(whole.frames.back().delayNum, 0);

    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::string wrongCount = [&] {
        std::string b = bytes;
        b[44] = 4;  // acTL says 4 frames, under a CRC that matches
        const auto* at = reinterpret_cast<const uint8_t*>(b.data());
        std::vector<uint8_t> crc;
        png::putU32(crc, png::chunkCrc(at + 37, at + 41, 8));
        b.replace(49, 4, std::string(crc.begin(), crc.end()));
        return b;
    }();
    const std::pair<const char*, std::string> damaged[] = {
        {"a flipped pixel byte", std::string(bytes).replace(200, 1, 1, static_cast<char>(bytes[200] ^ 0x10))},
        {"no IEND (a recording that never ended)", bytes.substr(0, bytes.size() - 12)},
        {"cut in a frame", bytes.substr(0, bytes.size() / 2)},
        {"a wrong frame count", wrongCount},
    };
    for (const auto& [what, content] : damaged) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        EXPECT_NE(readScreenRecording(path).problem, "") << what;
    }
}
