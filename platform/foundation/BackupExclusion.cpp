#include "platform/foundation/BackupExclusion.h"

#include <cerrno>
#include <string_view>
#include <sys/xattr.h>

namespace platform {

namespace {

constexpr const char* kAttribute = "user.xdg.robots.backup";
constexpr std::string_view kExcluded = "false";

} // namespace

bool setExcludedFromBackup(const std::filesystem::path& path, bool excluded, ErrorPtr* error) {
    int result = excluded ? ::setxattr(path.c_str(), kAttribute, kExcluded.data(), kExcluded.size(), 0)
                          : ::removexattr(path.c_str(), kAttribute);
    // Not excluded is the state of a file without the attribute.
    if (result == 0 || (!excluded && errno == ENODATA))
        return true;
    if (error)
        *error = Error::posix(errno, path.string());
    return false;
}

bool isExcludedFromBackup(const std::filesystem::path& path) {
    char value[16];
    ssize_t length = ::getxattr(path.c_str(), kAttribute, value, sizeof value);
    return length >= 0 && std::string_view(value, size_t(length)) == kExcluded;
}

} // namespace platform
