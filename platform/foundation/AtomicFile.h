#pragma once
// Whole-file reads and crash-safe whole-file writes. write() puts the bytes in a temporary file
// beside the target ("<name>.tmp-XXXXXX"), flushes it to disk, renames it over the target and
// flushes the directory, so after a crash the target holds either the old bytes or the new ones,
// never a mix. A crash may leave the temporary behind; removeStaleTemporaries() clears those.
// Files that can be made again (caches) may skip the flushes: readers still never see a partial
// file, but after a crash the target may hold the old bytes, the new ones, or nothing readable.
//
// Thread-safe for different paths. One file has one writer: concurrent writes to the same path
// each succeed, and the last rename wins. Failures come back as NSPOSIXErrorDomain errors.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

#include <filesystem>
#include <optional>
#include <sys/types.h>

namespace platform {

class AtomicFile {
public:
    enum class Durability { Flushed, CacheOnly };

    // `mode` is the permission of a newly made file; an existing file keeps its own.
    static bool write(const std::filesystem::path& path, const Data& bytes, ErrorPtr* error = nullptr,
                      mode_t mode = 0644, Durability durability = Durability::Flushed);

    // The whole file, or nullopt with the reason (ENOENT for a missing file).
    static std::optional<Data> read(const std::filesystem::path& path, ErrorPtr* error = nullptr);

    // Removes temporaries that an interrupted write() of `path` left behind; returns how many.
    // Call it only while no write() of that path is under way.
    static size_t removeStaleTemporaries(const std::filesystem::path& path);

    // The prefix that names the temporaries of `path` ("<name>.tmp-").
    static std::string temporaryPrefix(const std::filesystem::path& path);
};

} // namespace platform
