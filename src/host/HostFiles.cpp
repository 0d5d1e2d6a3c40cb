// HostFiles: reading regular files only, and the save file's safe write (see
// HostFiles.h).
#include "host/HostFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

constexpr int MaxLinkHops = 40;  // what the kernel allows before ELOOP

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }
    // Closes now; false when close reports a failed write-back.
    bool reset() {
        const bool ok = fd < 0 || close(fd) == 0;
        fd = -1;
        return ok;
    }

private:
    int fd;
};

WriteOutcome failure(int error) { return {false, std::strerror(error)}; }

bool writeAll(int fd, std::initializer_list<std::span<const uint8_t>> pieces, uint64_t& total) {
    total = 0;
    for (const auto piece : pieces) {
        std::size_t done = 0;
        while (done < piece.size()) {
            const ssize_t n = write(fd, piece.data() + done, piece.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0)
                    errno = EIO;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        total += done;
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path a chain of symbolic links ends at, whether or not that exists.
bool resolveLinks(std::string path, std::string& target, int& error) {
    for (int hop = 0; hop <= MaxLinkHops; ++hop) {
        struct stat st{};
        if (lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                error = errno;
                return false;
            }
            target = path;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            target = path;
            return true;
        }
        char buffer[4096];
        const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) {
            error = n < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        const std::string link(buffer, static_cast<std::size_t>(n));
        path = link.front() == '/' ? link : folderOf(path) + "/" + link;
    }
    error = ELOOP;
    return false;
}

// The process's umask, read without changing it (umask() would, for every thread).
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        unsigned mask = 0;
        if (std::sscanf(line.c_str(), "Umask: %o", &mask) == 1)
            return static_cast<mode_t>(mask & 0777);
    }
    return 022;
}

// Writes over the existing file at target without replacing it. A regular
// file is cut to the new length and synced; a FIFO without a reader fails at
// once rather than blocking.
WriteOutcome writeInPlace(const std::string& target, std::initializer_list<std::span<const uint8_t>> pieces) {
    Descriptor fd(open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return failure(errno);
    struct stat st{};
    if (fstat(fd.get(), &st) != 0)
        return failure(errno);
    if (S_ISDIR(st.st_mode))
        return failure(EISDIR);
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return failure(errno);
    uint64_t total = 0;
    if (!writeAll(fd.get(), pieces, total))
        return failure(errno);
    if (S_ISREG(st.st_mode) &&
        (ftruncate(fd.get(), static_cast<off_t>(total)) != 0 || fsync(fd.get()) != 0))
        return failure(errno);
    if (!fd.reset())
        return failure(errno);
    return {true, {}};
}

}  // namespace

InputFile::InputFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error_ = errno;
        status_ = (errno == ENOENT || errno == ENOTDIR) ? OpenStatus::Missing : OpenStatus::Failed;
        return;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0) {
        error_ = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        status_ = OpenStatus::NotRegular;
    } else {
        status_ = OpenStatus::Opened;
        size_ = static_cast<uint64_t>(st.st_size);
        return;
    }
    close(fd);
    fd = -1;
}

InputFile::~InputFile() {
    if (fd >= 0)
        close(fd);
}

bool InputFile::readAt(uint64_t offset, void* buffer, std::size_t n, std::size_t& got) {
    got = 0;
    if (fd < 0)
        return false;
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (got < n) {
        const ssize_t r = pread(fd, bytes + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            error_ = errno;
            return false;
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

FileText readRegularFile(const std::string& path, std::size_t limit) {
    FileText result;
    InputFile file(path);
    result.status = file.status();
    if (!file.isOpen())
        return result;
    if (file.size() > limit) {
        result.tooLarge = true;
        return result;
    }
    // The length may have changed since fstat: read to the end, one byte past the limit at most.
    char chunk[65536];
    for (;;) {
        const std::size_t want = std::min(sizeof chunk, limit + 1 - result.text.size());
        std::size_t got = 0;
        if (!file.readAt(result.text.size(), chunk, want, got)) {
            result.status = OpenStatus::Failed;
            result.text.clear();
            return result;
        }
        result.text.append(chunk, got);
        if (result.text.size() > limit) {
            result.tooLarge = true;
            result.text.clear();
            return result;
        }
        if (got == 0)
            return result;
    }
}

bool sameExistingFile(const std::string& a, const std::string& b) {
    struct stat sa{}, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string printableText(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out.push_back(c);
        } else {
            out += "\\x";
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 15]);
        }
    }
    return out;
}

WriteOutcome writeFileSafely(const std::string& path, std::initializer_list<std::span<const uint8_t>> pieces) {
    std::string target;
    int error = 0;
    if (path.empty())
        return failure(ENOENT);
    if (!resolveLinks(path, target, error))
        return failure(error);

    struct stat old{};
    const bool exists = lstat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return failure(errno);
    if (exists && !S_ISREG(old.st_mode))
        return S_ISDIR(old.st_mode) ? failure(EISDIR) : writeInPlace(target, pieces);
    // The user's read-only file stays as it is, even for root, who could write it.
    if (exists && ((old.st_mode & 0222) == 0 || faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0))
        return {false, "the file is read-only"};

    std::string temporary = target + ".XXXXXX";
    Descriptor fd(mkstemp(temporary.data()));
    if (fd.get() < 0) {
        const int mkstempError = errno;
        // A folder we may not write, holding a file we may: overwrite the file itself.
        if (exists && (mkstempError == EACCES || mkstempError == EPERM || mkstempError == EROFS))
            return writeInPlace(target, pieces);
        return failure(mkstempError);
    }
    auto abandon = [&](int why) {
        fd.reset();
        unlink(temporary.c_str());
        return failure(why);
    };
    if (exists) {
        // Root saving a user's file must not hand it to root; others cannot
        // change the owner, and then keep their own.
        if (geteuid() == 0)
            (void)fchown(fd.get(), old.st_uid, old.st_gid);
    }
    const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    uint64_t total = 0;
    if (fchmod(fd.get(), mode) != 0 || !writeAll(fd.get(), pieces, total) || fsync(fd.get()) != 0)
        return abandon(errno);
    if (!fd.reset())
        return abandon(errno);
    if (rename(temporary.c_str(), target.c_str()) != 0)
        return abandon(errno);
    // The rename lives in the folder: sync it so the new name survives a crash.
    Descriptor folder(open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        (void)fsync(folder.get());
    return {true, {}};
}
