#include "platform/foundation/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closing reports errors that a delayed write on some file systems only reveals here.
    int close() {
        if (m_fd < 0)
            return 0;
        int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd{-1};
};

ErrorPtr failure(int code, const std::filesystem::path& path, const char* what) {
    auto error = Error::posix(code, what);
    ValueDictionary info(*error->userInfo().dictionary());
    info.set(NSFilePathErrorKey, path.string());
    return Error::create(NSPOSIXErrorDomain, code, Value(std::move(info)));
}

bool writeAll(int fd, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        ssize_t written = ::write(fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

int fsyncRetrying(int fd) {
    int result;
    do {
        result = ::fsync(fd);
    } while (result < 0 && errno == EINTR);
    return result;
}

} // namespace

std::string AtomicFile::temporaryPrefix(const std::filesystem::path& path) {
    return path.filename().string() + ".tmp-";
}

bool AtomicFile::write(const std::filesystem::path& path, const Data& bytes, ErrorPtr* error, mode_t mode,
                       Durability durability) {
    const bool flush = durability == Durability::Flushed;
    if (path.filename().empty()) {
        setError(error, failure(EISDIR, path, "write"));
        return false;
    }
    std::filesystem::path directory = path.parent_path();
    if (directory.empty())
        directory = ".";

    std::string pattern = (directory / (temporaryPrefix(path) + "XXXXXX")).string();
    FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!file.valid()) {
        setError(error, failure(errno, path, "create temporary file"));
        return false;
    }
    const std::string temporary = pattern;
    auto abandon = [&](int code, const char* what) {
        file.close();
        ::unlink(temporary.c_str());
        setError(error, failure(code, path, what));
        return false;
    };

    struct stat existing {};
    mode_t wanted = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : mode;
    if (::fchmod(file.get(), wanted) != 0)
        return abandon(errno, "set permissions");
    if (!writeAll(file.get(), bytes.bytes(), bytes.length()))
        return abandon(errno, "write");
    if (flush && fsyncRetrying(file.get()) != 0)
        return abandon(errno, "flush");
    if (file.close() != 0)
        return abandon(errno, "close");
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        return abandon(errno, "rename");

    if (!flush)
        return true;
    // Without this the rename itself may be lost in a crash, bringing back the old file or none.
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        fsyncRetrying(dir.get());
    return true;
}

std::optional<Data> AtomicFile::read(const std::filesystem::path& path, ErrorPtr* error) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        setError(error, failure(errno, path, "open"));
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        setError(error, failure(errno, path, "stat"));
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        setError(error, failure(EISDIR, path, "read"));
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    // The size is a hint only: the file may change while we read, so read to the end.
    bytes.reserve(info.st_size > 0 ? static_cast<size_t>(info.st_size) + 1 : 4096);
    uint8_t chunk[65536];
    for (;;) {
        ssize_t got = ::read(file.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            setError(error, failure(errno, path, "read"));
            return std::nullopt;
        }
        if (got == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return Data(std::move(bytes));
}

size_t AtomicFile::removeStaleTemporaries(const std::filesystem::path& path) {
    std::filesystem::path directory = path.parent_path();
    if (directory.empty())
        directory = ".";
    const std::string prefix = temporaryPrefix(path);
    size_t removed = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(directory, ec); !ec && it != std::filesystem::end(it);
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix)) {
            std::error_code ignored;
            if (std::filesystem::remove(it->path(), ignored))
                ++removed;
        }
    }
    return removed;
}

} // namespace platform
