// ScreenRecording: the organiser's display as an animated PNG (APNG) that is
// written while the organiser runs. The device window records in host time
// ("View > Record Screen..."), the headless runner in emulated time
// (--record-screen); the tests read the files back with readScreenRecording.
//
// The file is the 1-bit palette PNG of ScreenPng (160x240, 0 paper, 1 ink)
// with an acTL chunk after IHDR and one fcTL per frame. The first frame is
// the PNG's own image (IDAT), so a viewer without animation shows it; every
// later frame is the band of whole rows that changed since the frame before
// (fdAT, drawn over it: dispose none, blend source). Frames are streamed: a
// frame is written as soon as the next one (or the end) says how long it
// stays, so the file holds at most one frame in memory, and finish patches
// acTL's frame count (and its CRC) at the end.
//
// Times are microseconds from any origin; each frame's start is rounded to
// the millisecond and its delay is the difference of the rounded starts
// (delay_den 1000), so the delays add up to the recording's length exactly.
// A still picture longer than an fcTL delay holds (65.535 s) goes on with
// hold frames: its bottom row again, which changes nothing on the screen.
// A time earlier than the one before counts as the same moment.
//
// A size limit keeps a forgotten recording from filling the disk: a frame
// that would take the file past it is not written; the file ends at the
// frame before, complete and valid, and the caller is told. A write error
// ends the recording too.
//
// One thread at a time; nothing here is shared with the machine.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class ScreenRecording {
public:
    // 64 MB: the frames of this display are small (a changed band of rows is
    // tens to hundreds of bytes, a whole new screen at most about 5 KB), so
    // this holds hours of ordinary use or over 12,000 screens of noise, while
    // staying a file that browsers and mail still take and that a recording
    // left running by mistake cannot grow past.
    static constexpr uint64_t DefaultSizeLimit = uint64_t{64} << 20;
    // Any limit is raised to this, so the first frame always fits.
    static constexpr uint64_t SmallestSizeLimit = uint64_t{64} << 10;
    static constexpr uint32_t LongestDelayMs = 65535;

    enum class Outcome {
        Added,        // the screen is the file's newest frame
        Unchanged,    // the display is as in the newest frame: nothing added
        EndedAtLimit, // the file was ended before this frame, at the size limit
        WriteFailed,  // a write failed: the recording has ended (see problem())
    };

    ScreenRecording() = default;
    // A recording still open is finished at its newest frame's time.
    ~ScreenRecording();
    ScreenRecording(const ScreenRecording&) = delete;
    ScreenRecording& operator=(const ScreenRecording&) = delete;

    // Creates (or replaces) the file and writes its header. False, with
    // problem() saying why and no file left behind, when that fails.
    bool open(const std::string& path, uint64_t sizeLimit = DefaultSizeLimit);
    bool isOpen() const { return file != nullptr; }

    // screenBits: the machine's bitmap (20 bytes a line, bottom-up, 304
    // lines, the display in the top 240). The first frame is always added;
    // later ones only when a display pixel differs from the newest frame.
    // After EndedAtLimit or WriteFailed the recording is closed.
    Outcome addFrame(const uint8_t* screenBits, uint64_t microseconds);

    // Adds the screen as the last frame (when it differs), lets the last
    // frame run to the time given, writes the end and the frame count and
    // closes the file. Added or Unchanged mean the file is complete. A
    // recording that ends before its first frame is in the file (finished
    // without a screen, or by the destructor right after open) leaves no file.
    Outcome finish(const uint8_t* screenBits, uint64_t microseconds);

    // Frames taken so far (the newest one, not yet in the file, included).
    uint32_t frameCount() const { return framesWritten + (pending.has ? 1u : 0u); }
    uint64_t bytesWritten() const { return written; }
    const std::string& problem() const { return problemText; }

private:
    struct Frame {
        bool has = false;
        int top = 0, rows = 0;      // the band of display rows it covers
        uint64_t startMs = 0;
        std::vector<uint8_t> packed;  // zlib stream of its rows
    };
    using Display = std::array<uint8_t, 240 * 20>;  // top row first

    bool writeBytes(const std::vector<uint8_t>& bytes);
    // fcTL and the frame's data chunk.
    void putFrame(std::vector<uint8_t>& out, const Frame& frame, uint32_t delayMs, bool first);
    // The pending frame with its delay up to endMs and any hold frames after it.
    Outcome flushPending(uint64_t endMs);
    Outcome close(Outcome outcome);
    Outcome fail();
    bool pack(Frame& frame, int top, int rows);

    std::FILE* file = nullptr;
    std::string filePath;
    uint64_t limit = DefaultSizeLimit;
    uint64_t written = 0;
    uint32_t framesWritten = 0;
    uint32_t sequence = 0;
    uint64_t lastMs = 0;
    Display shown{};  // the newest frame's picture
    Frame pending;
    std::string problemText;
};

// A file read back by readScreenRecording: each frame's whole picture after
// it is drawn (240 rows of 20 bytes, top row first, bit 7 leftmost, 1 ink)
// and its delay. problem is empty when the file is a complete APNG of the
// kind ScreenRecording writes: every CRC, sequence number, region and the
// frame count in acTL checked.
struct RecordedFrame {
    std::vector<uint8_t> pixels;
    int top = 0, rows = 0;
    uint16_t delayNum = 0, delayDen = 0;
};

struct RecordedScreen {
    std::vector<RecordedFrame> frames;
    uint32_t plays = 0;
    std::string problem;
};

RecordedScreen readScreenRecording(const std::string& path);
