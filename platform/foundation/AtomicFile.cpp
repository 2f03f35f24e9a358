#include "platform/foundation/AtomicFile.h"

#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Immortal.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {

namespace {

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

std::filesystem::path directoryOf(const std::filesystem::path& path) {
    std::filesystem::path directory = path.parent_path();
    return directory.empty() ? "." : directory;
}

std::string identity(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::absolute(path, ignored).lexically_normal().string();
}

// What this process knows of its own writes: the paths whose leftovers it has cleared, and the
// temporaries its writes hold right now, which are never leftovers. Temporaries are made and
// swept under the one lock, so a sweep never sees a temporary before it is known.
class Temporaries {
public:
    // Never destroyed: a write on a worker thread may still be under way while static destructors run.
    static Temporaries& shared() {
        static detail::Immortal<Temporaries> temporaries;
        return temporaries.get();
    }

    // The temporary for a write of `path` (invalid with errno set on failure), after clearing the
    // leftovers of `path` if no write of it has yet done so in this process.
    FileDescriptor create(const std::filesystem::path& path, std::string& temporary) {
        std::lock_guard lock(m_mutex);
        if (!m_sweptPaths.contains(identity(path)))
            sweepLocked(path);
        temporary = (directoryOf(path) / (AtomicFile::temporaryPrefix(path) + "XXXXXX")).string();
        FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
        if (file.valid())
            m_inFlight.insert(identity(temporary));
        return file;
    }

    // The write that made `temporary` is over (renamed or removed).
    void release(const std::string& temporary) {
        std::lock_guard lock(m_mutex);
        m_inFlight.erase(identity(temporary));
    }

    size_t sweep(const std::filesystem::path& path) {
        std::lock_guard lock(m_mutex);
        return sweepLocked(path);
    }

private:
    size_t sweepLocked(const std::filesystem::path& path) {
        m_sweptPaths.insert(identity(path));
        const std::string prefix = AtomicFile::temporaryPrefix(path);
        size_t removed = 0;
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator(directoryOf(path), ec);
             !ec && it != std::filesystem::end(it); it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.size() != prefix.size() + 6 || !name.starts_with(prefix) ||
                m_inFlight.contains(identity(it->path())))
                continue;
            std::error_code ignored;
            if (std::filesystem::remove(it->path(), ignored))
                ++removed;
        }
        return removed;
    }

    std::mutex m_mutex;
    std::set<std::string> m_sweptPaths;
    std::set<std::string> m_inFlight;
};

// Fills the temporary, puts it in place of `path` and makes the rename durable; on failure removes it.
ErrorPtr replaceThroughTemporary(const std::filesystem::path& path, FileDescriptor& file,
                                 const std::string& temporary, const Data& bytes, mode_t mode, bool flush) {
    auto abandon = [&](int code, const char* what) {
        file.close();
        ::unlink(temporary.c_str());
        return failure(code, path, what);
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
        return nullptr;
    // Without this the rename itself may be lost in a crash, bringing back the old file or none.
    FileDescriptor directory(::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid())
        fsyncRetrying(directory.get());
    return nullptr;
}

} // namespace

std::string AtomicFile::temporaryPrefix(const std::filesystem::path& path) {
    return path.filename().string() + ".tmp-";
}

bool AtomicFile::write(const std::filesystem::path& path, const Data& bytes, ErrorPtr* error, mode_t mode,
                       Durability durability) {
    if (path.filename().empty()) {
        setError(error, failure(EISDIR, path, "write"));
        return false;
    }
    std::string temporary;
    FileDescriptor file = Temporaries::shared().create(path, temporary);
    if (!file.valid()) {
        setError(error, failure(errno, path, "create temporary file"));
        return false;
    }
    ErrorPtr failed =
        replaceThroughTemporary(path, file, temporary, bytes, mode, durability == Durability::Flushed);
    Temporaries::shared().release(temporary);
    if (failed)
        setError(error, failed);
    return !failed;
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
    return Temporaries::shared().sweep(path);
}

} // namespace platform
