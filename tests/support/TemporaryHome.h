#pragma once
// A temporary app home for one test: created empty, installed as the app home, removed (with all
// it holds) when destroyed.

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

} // namespace liveapp::test
