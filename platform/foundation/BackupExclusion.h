#pragma once
// The platform's "excluded from backup" flag of a file (NSURLIsExcludedFromBackupKey). On Linux it is the
// extended attribute user.xdg.robots.backup, which backup tools following the freedesktop.org
// convention honour: "false" while the file is excluded, absent otherwise. The flag belongs to the file
// itself, so a write that replaces the file by a rename must set it again on the new one.
// Any thread. Failures (a file system without user attributes, a missing file) come back as
// NSPOSIXErrorDomain errors; nothing else changes then.

#include "platform/foundation/Error.h"

#include <filesystem>

namespace platform {

bool setExcludedFromBackup(const std::filesystem::path& path, bool excluded, ErrorPtr* error = nullptr);
// False also when the attribute cannot be read.
bool isExcludedFromBackup(const std::filesystem::path& path);

} // namespace platform
