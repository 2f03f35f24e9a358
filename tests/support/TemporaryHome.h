#pragma once
// Temporary folders for one test, created empty and removed (with all they hold) when destroyed:
// TemporaryHome is installed as the app home; TemporarySharedFolder as the per-user shared folder
// that cooperating applications use ($LIVEAPP_SHARED_DIR). Every test gets one of each.

#include <filesystem>

namespace liveapp::test {

class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

class TemporarySharedFolder {
public:
    TemporarySharedFolder();
    ~TemporarySharedFolder();
    TemporarySharedFolder(const TemporarySharedFolder&) = delete;
    TemporarySharedFolder& operator=(const TemporarySharedFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace liveapp::test
