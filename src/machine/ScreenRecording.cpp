// ScreenRecording: the display as a streamed APNG, and its reader for the
// tests (see ScreenRecording.h).
#include "machine/ScreenRecording.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "machine/ScreenPng.h"

namespace {

constexpr int rowBytes = 20;
constexpr int displayRows = 240;
constexpr int bitmapLines = 304;
// Signature, IHDR: acTL's data starts here, its frame count first.
constexpr long acTLDataAt = 8 + 25 + 8;
constexpr std::size_t iendBytes = 12;
constexpr std::size_t fcTLBytes = 12 + 26;

const uint8_t* displayRow(const uint8_t* screenBits, int y) { return screenBits + (bitmapLines - 1 - y) * rowBytes; }

void putU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

std::vector<uint8_t> animationControl(uint32_t frames) {
    std::vector<uint8_t> data;
    png::putU32(data, frames);
    png::putU32(data, 0);  // plays: 0, for ever
    return data;
}

// Only a file of ours: a device (/dev/full) stays.
void removeRegularFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        std::remove(path.c_str());
}

}  // namespace

ScreenRecording::~ScreenRecording() {
    if (isOpen())
        (void)finish(nullptr, 0);
}

bool ScreenRecording::open(const std::string& path, uint64_t sizeLimit) {
    if (isOpen())
        (void)finish(nullptr, 0);
    problemText.clear();
    file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        problemText = std::strerror(errno);
        return false;
    }
    filePath = path;
    limit = std::max(sizeLimit, SmallestSizeLimit);
    written = 0;
    framesWritten = 0;
    sequence = 0;
    lastMs = 0;
    pending = Frame{};

    std::vector<uint8_t> header(std::begin(png::signature), std::end(png::signature));
    std::vector<uint8_t> ihdr;
    png::putU32(ihdr, 160);
    png::putU32(ihdr, displayRows);
    ihdr.insert(ihdr.end(), {1, 3, 0, 0, 0});  // depth 1, palette, deflate, no filter set, no interlace
    png::putChunk(header, "IHDR", ihdr);
    png::putChunk(header, "acTL", animationControl(0));  // counted at the end
    png::putChunk(header, "PLTE", {255, 251, 240, 0, 0, 0});
    if (!writeBytes(header)) {
        problemText = std::strerror(errno);
        std::fclose(file);
        file = nullptr;
        removeRegularFile(path);
        return false;
    }
    return true;
}

bool ScreenRecording::writeBytes(const std::vector<uint8_t>& bytes) {
    // Flushed at once: a full disk is seen at the frame that meets it.
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0)
        return false;
    written += bytes.size();
    return true;
}

bool ScreenRecording::pack(Frame& frame, int top, int rows) {
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(rows) * (rowBytes + 1));
    for (int y = top; y < top + rows; ++y) {
        raw.push_back(0);  // filter: none
        raw.insert(raw.end(), &shown[y * rowBytes], &shown[y * rowBytes] + rowBytes);
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    frame.packed.resize(size);
    if (compress2(frame.packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
        return false;
    frame.packed.resize(size);
    frame.top = top;
    frame.rows = rows;
    return true;
}

void ScreenRecording::putFrame(std::vector<uint8_t>& out, const Frame& frame, uint32_t delayMs, bool first) {
    std::vector<uint8_t> control;
    png::putU32(control, sequence++);
    png::putU32(control, 160);
    png::putU32(control, static_cast<uint32_t>(frame.rows));
    png::putU32(control, 0);
    png::putU32(control, static_cast<uint32_t>(frame.top));
    putU16(control, delayMs);
    putU16(control, 1000);
    control.push_back(0);  // dispose: none, the next frame draws over it
    control.push_back(0);  // blend: source, its rows replace what was there
    png::putChunk(out, "fcTL", control);
    if (first) {
        png::putChunk(out, "IDAT", frame.packed);
    } else {
        std::vector<uint8_t> data;
        data.reserve(4 + frame.packed.size());
        png::putU32(data, sequence++);
        data.insert(data.end(), frame.packed.begin(), frame.packed.end());
        png::putChunk(out, "fdAT", data);
    }
    ++framesWritten;
}

ScreenRecording::Outcome ScreenRecording::flushPending(uint64_t endMs) {
    uint64_t delay = endMs - pending.startMs;
    Frame hold;
    if (delay > LongestDelayMs && !pack(hold, displayRows - 1, 1))
        return fail();
    // The whole piece is measured first: either all of it goes in or none.
    const uint64_t holds = delay > LongestDelayMs ? (delay - 1) / LongestDelayMs : 0;
    const std::size_t frameBytes = fcTLBytes + 12 + (framesWritten == 0 ? 0 : 4) + pending.packed.size();
    const uint64_t bytes = frameBytes + holds * (fcTLBytes + 16 + hold.packed.size());
    if (written + bytes + iendBytes > limit)
        return close(Outcome::EndedAtLimit);
    std::vector<uint8_t> out;
    putFrame(out, pending, static_cast<uint32_t>(std::min<uint64_t>(delay, LongestDelayMs)), framesWritten == 0);
    delay -= std::min<uint64_t>(delay, LongestDelayMs);
    while (delay > 0) {
        const auto piece = static_cast<uint32_t>(std::min<uint64_t>(delay, LongestDelayMs));
        putFrame(out, hold, piece, false);
        delay -= piece;
    }
    pending.has = false;
    if (!writeBytes(out))
        return fail();
    return Outcome::Added;
}

ScreenRecording::Outcome ScreenRecording::addFrame(const uint8_t* screenBits, uint64_t microseconds) {
    if (!isOpen())
        return Outcome::WriteFailed;
    const uint64_t ms = std::max((microseconds + 500) / 1000, lastMs);
    int top = 0;
    int bottom = displayRows - 1;
    if (pending.has) {
        while (top < displayRows && std::memcmp(&shown[top * rowBytes], displayRow(screenBits, top), rowBytes) == 0)
            ++top;
        if (top == displayRows)
            return Outcome::Unchanged;
        while (std::memcmp(&shown[bottom * rowBytes], displayRow(screenBits, bottom), rowBytes) == 0)
            --bottom;
        const Outcome flushed = flushPending(ms);
        if (flushed != Outcome::Added)
            return flushed;
    }
    for (int y = top; y <= bottom; ++y)
        std::memcpy(&shown[y * rowBytes], displayRow(screenBits, y), rowBytes);
    if (!pack(pending, top, bottom - top + 1))
        return fail();
    pending.has = true;
    pending.startMs = ms;
    lastMs = ms;
    return Outcome::Added;
}

ScreenRecording::Outcome ScreenRecording::finish(const uint8_t* screenBits, uint64_t microseconds) {
    if (!isOpen())
        return Outcome::WriteFailed;
    Outcome outcome = Outcome::Unchanged;
    uint64_t endMs = std::max((microseconds + 500) / 1000, lastMs);
    if (screenBits != nullptr) {
        outcome = addFrame(screenBits, microseconds);
        if (outcome == Outcome::EndedAtLimit || outcome == Outcome::WriteFailed)
            return outcome;
    } else {
        endMs = lastMs;  // from the destructor: no time to run to
    }
    if (pending.has) {
        const Outcome flushed = flushPending(endMs);
        if (flushed != Outcome::Added)
            return flushed;
    }
    return close(outcome);
}

ScreenRecording::Outcome ScreenRecording::close(Outcome outcome) {
    if (framesWritten == 0) {
        // Ended before a frame was complete (a run that never started): no
        // animation to keep, and an empty one would not be a valid file.
        std::fclose(file);
        file = nullptr;
        pending.has = false;
        removeRegularFile(filePath);
        return outcome;
    }
    std::vector<uint8_t> end;
    png::putChunk(end, "IEND", nullptr, 0);
    bool good = writeBytes(end);
    // Now the frames are counted: acTL's count and its CRC.
    std::vector<uint8_t> count;
    const std::vector<uint8_t> data = animationControl(framesWritten);
    count.insert(count.end(), data.begin(), data.end());
    png::putU32(count, png::chunkCrc(reinterpret_cast<const uint8_t*>("acTL"), data.data(), data.size()));
    good = good && std::fseek(file, acTLDataAt, SEEK_SET) == 0 &&
           std::fwrite(count.data(), 1, count.size(), file) == count.size();
    if (!good && problemText.empty())
        problemText = std::strerror(errno);
    good = (std::fclose(file) == 0) && good;
    if (!good && problemText.empty())
        problemText = std::strerror(errno);
    file = nullptr;
    pending.has = false;
    return good ? outcome : Outcome::WriteFailed;
}

ScreenRecording::Outcome ScreenRecording::fail() {
    problemText = std::strerror(errno);
    // What is already in the file is ended as well as the disk allows.
    (void)close(Outcome::WriteFailed);
    return Outcome::WriteFailed;
}

RecordedScreen readScreenRecording(const std::string& path) {
    RecordedScreen result;
    auto refuse = [&](const std::string& why) {
        result.frames.clear();
        result.problem = why;
        return result;
    };
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 8 || std::memcmp(file.data(), png::signature, 8) != 0)
        return refuse("not a PNG file");

    std::vector<uint8_t> canvas(displayRows * rowBytes, 0);
    bool headerSeen = false, ended = false, idatSeen = false;
    int64_t framesAnnounced = -1;
    uint32_t nextSequence = 0;
    RecordedFrame frame;
    bool frameOpen = false;
    std::vector<uint8_t> packed;
    // Draws the open frame's rows (from its data chunks) onto the canvas.
    auto closeFrame = [&]() -> std::string {
        if (!frameOpen)
            return {};
        frameOpen = false;
        std::vector<uint8_t> raw(static_cast<std::size_t>(frame.rows) * (rowBytes + 1));
        uLongf size = static_cast<uLongf>(raw.size());
        if (uncompress(raw.data(), &size, packed.data(), static_cast<uLong>(packed.size())) != Z_OK ||
            size != raw.size())
            return "frame " + std::to_string(result.frames.size()) + ": its rows do not unpack";
        for (int r = 0; r < frame.rows; ++r) {
            if (raw[r * (rowBytes + 1)] != 0)
                return "a filtered row";
            std::memcpy(&canvas[(frame.top + r) * rowBytes], &raw[r * (rowBytes + 1) + 1], rowBytes);
        }
        packed.clear();
        frame.pixels = canvas;
        result.frames.push_back(frame);
        return {};
    };

    std::size_t at = 8;
    while (at + 12 <= file.size() && !ended) {
        const uint32_t length = png::getU32(&file[at]);
        if (length > file.size() - at - 12)
            return refuse("a chunk runs past the end");
        const uint8_t* type = &file[at + 4];
        const uint8_t* data = &file[at + 8];
        const std::string name(reinterpret_cast<const char*>(type), 4);
        if (png::chunkCrc(type, data, length) != png::getU32(data + length))
            return refuse(name + ": bad CRC");
        if (!headerSeen && name != "IHDR")
            return refuse("IHDR is not first");
        if (name == "IHDR") {
            if (length != 13 || png::getU32(data) != 160 || png::getU32(data + 4) != displayRows || data[8] != 1 ||
                data[9] != 3 || data[12] != 0)
                return refuse("not a 160x240 1-bit palette image");
            headerSeen = true;
        } else if (name == "acTL") {
            if (length != 8 || idatSeen)
                return refuse("acTL misplaced or malformed");
            framesAnnounced = png::getU32(data);
            result.plays = png::getU32(data + 4);
        } else if (name == "fcTL") {
            if (const std::string problem = closeFrame(); !problem.empty())
                return refuse(problem);
            if (length != 26 || png::getU32(data) != nextSequence++)
                return refuse("fcTL malformed or out of sequence");
            const uint32_t width = png::getU32(data + 4), rows = png::getU32(data + 8);
            const uint32_t x = png::getU32(data + 12), top = png::getU32(data + 16);
            if (width != 160 || x != 0 || rows == 0 || top >= displayRows || rows > displayRows - top)
                return refuse("a frame region outside the screen or not of whole rows");
            if (result.frames.empty() && !idatSeen && (top != 0 || rows != displayRows))
                return refuse("the first frame is not the whole screen");
            if (data[24] != 0 || data[25] != 0)
                return refuse("a dispose or blend operation the writer does not use");
            frame = RecordedFrame{};
            frame.top = static_cast<int>(top);
            frame.rows = static_cast<int>(rows);
            frame.delayNum = static_cast<uint16_t>((data[20] << 8) | data[21]);
            frame.delayDen = static_cast<uint16_t>((data[22] << 8) | data[23]);
            frameOpen = true;
        } else if (name == "IDAT") {
            if (!frameOpen || !result.frames.empty())
                return refuse("IDAT without the first fcTL");
            idatSeen = true;
            packed.insert(packed.end(), data, data + length);
        } else if (name == "fdAT") {
            if (!frameOpen || !idatSeen || length < 4 || png::getU32(data) != nextSequence++)
                return refuse("fdAT misplaced or out of sequence");
            packed.insert(packed.end(), data + 4, data + length);
        } else if (name == "IEND") {
            if (const std::string problem = closeFrame(); !problem.empty())
                return refuse(problem);
            ended = true;
        }
        at += 12 + length;
    }
    if (!ended || at != file.size())
        return refuse("no IEND at the end");
    if (framesAnnounced < 1 || static_cast<uint64_t>(framesAnnounced) != result.frames.size())
        return refuse("acTL counts " + std::to_string(framesAnnounced) + " frames, the file holds " +
                      std::to_string(result.frames.size()));
    return result;
}
