#include "platform/foundation/Paths.h"

#include <cstdlib>
#include <mutex>
#include <system_error>

namespace platform {

namespace {
std::mutex g_mutex;
std::filesystem::path g_home;
std::filesystem::path g_resources;

// `variable` when set, else the folder `name` among the user's data.
std::filesystem::path environmentFolder(const char* variable, const char* name) {
    if (const char* folder = std::getenv(variable); folder && *folder)
        return folder;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::filesystem::path(data) / name;
    if (const char* user = std::getenv("HOME"); user && *user)
        return std::filesystem::path(user) / ".local/share" / name;
    return std::filesystem::temp_directory_path() / name;
}

std::filesystem::path ensured(std::filesystem::path dir) {
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return dir;
}
} // namespace

std::filesystem::path Paths::home() {
    std::lock_guard lock(g_mutex);
    if (g_home.empty())
        g_home = environmentFolder("LIVEAPP_HOME", "liveapp");
    return ensured(g_home);
}

void Paths::setHome(std::filesystem::path home) {
    std::lock_guard lock(g_mutex);
    g_home = std::move(home);
}

std::filesystem::path Paths::documents() {
    return ensured(home() / "Documents");
}
std::filesystem::path Paths::caches() {
    return ensured(home() / "Library/Caches");
}
std::filesystem::path Paths::preferences() {
    return ensured(home() / "Library/Preferences");
}
std::filesystem::path Paths::temporary() {
    return ensured(home() / "tmp");
}

std::filesystem::path Paths::shared() {
    return ensured(environmentFolder("LIVEAPP_SHARED_DIR", "liveapp-shared"));
}

std::filesystem::path Paths::resources() {
    std::lock_guard lock(g_mutex);
    if (!g_resources.empty())
        return g_resources;
    if (const char* dir = std::getenv("LIVEAPP_RESOURCES"); dir && *dir)
        return dir;
#ifdef LIVEAPP_SOURCE_RESOURCES
    return LIVEAPP_SOURCE_RESOURCES;
#else
    return "resources";
#endif
}

void Paths::setResources(std::filesystem::path resources) {
    std::lock_guard lock(g_mutex);
    g_resources = std::move(resources);
}

} // namespace platform
