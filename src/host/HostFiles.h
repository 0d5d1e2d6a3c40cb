// HostFiles: the one way pdemu reads the user's files and writes the save
// file. The machine (ROM image, save file, applications), the symbol files and
// the command-line programs (scripts, CP/M programs) all go through here.
//
// Reading: a path is opened without waiting (a FIFO with no writer does not
// block), and then fstat on the open file decides: only a regular file is
// read. A directory, FIFO, socket or device is "cannot be opened" like a
// missing file, so /dev/zero is never read for ever and a pipe never hangs
// the start. Callers read at most what they can use.
//
// Writing the save file (writeFileSafely): the old content is never lost to a
// failed or interrupted write. See the function's comment for the cases.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

enum class OpenStatus {
    Opened,
    Missing,     // no such file (a dangling link counts as missing)
    NotRegular,  // a directory, FIFO, socket or device
    Failed,      // exists but cannot be opened or read (permissions, I/O)
};

// A regular file open for reading; closed on destruction.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return status_ == OpenStatus::Opened; }
    OpenStatus status() const { return status_; }
    // errno of the failure; 0 when open (NotRegular gives EISDIR or EINVAL).
    int error() const { return error_; }
    // The file's length when it was opened.
    uint64_t size() const { return size_; }

    // Reads up to n bytes from offset into buffer; fewer only at the end of
    // the file. False on a read error (then error() says which).
    bool readAt(uint64_t offset, void* buffer, std::size_t n, std::size_t& got);

private:
    int fd = -1;
    OpenStatus status_ = OpenStatus::Failed;
    int error_ = 0;
    uint64_t size_ = 0;
};

struct FileText {
    OpenStatus status = OpenStatus::Failed;
    bool tooLarge = false;  // the file holds more than the limit; text is empty
    std::string text;       // the whole file when status is Opened and not tooLarge
};

// The whole of a regular file of at most limit bytes.
FileText readRegularFile(const std::string& path, std::size_t limit);

// True when both paths name the same existing file (after links).
bool sameExistingFile(const std::string& a, const std::string& b);

// Text safe to show on a terminal: bytes outside printable ASCII become \xHH.
std::string printableText(std::string_view text);

struct WriteOutcome {
    bool written = false;
    std::string problem;  // why not, when !written ("Permission denied", ...)
};

// Writes the pieces one after another as the new content of path.
//
// - A symbolic link is followed to its final target (a dangling one: the path
//   it names), and the link itself stays.
// - A regular file or a path that does not exist yet is replaced whole: the
//   content goes to a unique temporary file in the same folder (mkstemp),
//   which is synced, given the old file's permission bits and owner (a new
//   file gets 0666 less the umask), renamed over the target, and the folder
//   is synced. Any failure removes the temporary file and leaves the old file
//   as it was. No other name in the folder is ever touched.
// - If the folder does not let us create the temporary file but the file
//   itself is writable, it is overwritten in place.
// - A regular file without write permission (mode bits or access) is left
//   alone: not written, and reported.
// - Anything else (device, FIFO) is written in place, never replaced, and a
//   FIFO without a reader is not waited for; a directory is not written.
WriteOutcome writeFileSafely(const std::string& path, std::initializer_list<std::span<const uint8_t>> pieces);
