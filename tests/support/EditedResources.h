#pragma once
// A copy of the resources folder with one file's text edited, installed as the resources
// ($LIVEAPP_RESOURCES) for the object's life; the previous setting comes back on destruction. The copy
// lives in the test's app home, which is removed after the test.
//
//     EditedResources resources("LiveParameters_new.plist", [](std::string& text) { ... });

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace liveapp::test {

class EditedResources {
public:
    EditedResources(const std::string& fileName, const std::function<void(std::string& text)>& edit);
    ~EditedResources();
    EditedResources(const EditedResources&) = delete;
    EditedResources& operator=(const EditedResources&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
    std::optional<std::string> m_previous;
};

} // namespace liveapp::test
