// The entry of every test program: each test gets a fresh temporary app home and shared folder (the
// per-user folder that cooperating applications use), removed with all they hold afterwards.
#include "platform/foundation/Paths.h"
#include "platform/ui/MemoryPressureSource.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

class TemporaryFolder {
public:
    TemporaryFolder(const char* prefix, const char* variable, bool isHome)
        : m_variable(variable)
        , m_isHome(isHome) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        m_path = pattern;
        if (m_isHome)
            platform::Paths::setHome(m_path);
        setenv(m_variable, m_path.c_str(), 1);
    }
    ~TemporaryFolder() {
        if (m_isHome)
            platform::Paths::setHome({});
        unsetenv(m_variable);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

private:
    const char* m_variable;
    bool m_isHome;
    std::filesystem::path m_path;
};

class FoldersPerTest : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override {
        m_home = std::make_unique<TemporaryFolder>("liveapp-test", "LIVEAPP_HOME", true);
        m_shared = std::make_unique<TemporaryFolder>("liveapp-shared", "LIVEAPP_SHARED_DIR", false);
    }
    void OnTestEnd(const testing::TestInfo&) override {
        m_shared.reset();
        m_home.reset();
    }

private:
    std::unique_ptr<TemporaryFolder> m_home;
    std::unique_ptr<TemporaryFolder> m_shared;
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // A warning ends broadcasts and empties caches: tests that run the application hear the machine's
    // memory pressure only when they install a source of their own.
    platform::MemoryPressureSource::install(platform::MemoryPressureSource::silent());
    testing::UnitTest::GetInstance()->listeners().Append(new FoldersPerTest);
    return RUN_ALL_TESTS();
}
