#include "tests/support/TemporaryHome.h"

#include "platform/foundation/Paths.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace liveapp::test {

TemporaryHome::TemporaryHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "liveapp-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary home");
    m_path = pattern;
    platform::Paths::setHome(m_path);
    setenv("LIVEAPP_HOME", m_path.c_str(), 1);
}

TemporaryHome::~TemporaryHome() {
    platform::Paths::setHome({});
    unsetenv("LIVEAPP_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace liveapp::test
