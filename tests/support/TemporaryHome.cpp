#include "tests/support/TemporaryHome.h"

#include "platform/foundation/Paths.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace liveapp::test {

namespace {

std::filesystem::path makeTemporaryFolder(const char* prefix) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    return pattern;
}

void removeFolder(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

} // namespace

TemporaryHome::TemporaryHome()
    : m_path(makeTemporaryFolder("liveapp-test")) {
    platform::Paths::setHome(m_path);
    setenv("LIVEAPP_HOME", m_path.c_str(), 1);
}

TemporaryHome::~TemporaryHome() {
    platform::Paths::setHome({});
    unsetenv("LIVEAPP_HOME");
    removeFolder(m_path);
}

TemporarySharedFolder::TemporarySharedFolder()
    : m_path(makeTemporaryFolder("liveapp-shared")) {
    setenv("LIVEAPP_SHARED_DIR", m_path.c_str(), 1);
}

TemporarySharedFolder::~TemporarySharedFolder() {
    unsetenv("LIVEAPP_SHARED_DIR");
    removeFolder(m_path);
}

} // namespace liveapp::test
