#pragma once
// Where the application keeps its files. The app home is $LIVEAPP_HOME, or
// $XDG_DATA_HOME/liveapp (~/.local/share/liveapp) when that is unset; tests set a temporary one with
// setHome() before first use. Under it: Documents/, Library/Caches/, Library/Preferences/, tmp/
// (created on first use). Beside it, outside the home, the per-user shared folder that cooperating
// applications use together: $LIVEAPP_SHARED_DIR, else $XDG_DATA_HOME/liveapp-shared
// (~/.local/share/liveapp-shared). Thread-safe.

#include <filesystem>
#include <string>

namespace platform {

class Paths {
public:
    static std::filesystem::path home();
    static void setHome(std::filesystem::path home); // empty: back to the environment's choice

    static std::filesystem::path documents();
    static std::filesystem::path caches();
    static std::filesystem::path preferences();
    static std::filesystem::path temporary();

    // The shared folder, read from the environment at each call (created on first use).
    static std::filesystem::path shared();

    // The resources folder: $LIVEAPP_RESOURCES, else "resources" beside the running program's
    // source tree as the build recorded it.
    static std::filesystem::path resources();
    static void setResources(std::filesystem::path resources);
};

} // namespace platform
