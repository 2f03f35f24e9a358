#include "tests/support/EditedResources.h"

#include "platform/foundation/Paths.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace liveapp::test {

EditedResources::EditedResources(const std::string& fileName, const std::function<void(std::string&)>& edit)
    : m_path(platform::Paths::home() / "edited-resources") {
    if (const char* previous = std::getenv("LIVEAPP_RESOURCES"))
        m_previous = previous;
    std::filesystem::remove_all(m_path);
    std::filesystem::copy(platform::Paths::resources(), m_path, std::filesystem::copy_options::recursive);
    const auto file = m_path / fileName;
    std::string text;
    {
        std::ifstream in(file, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    edit(text);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    setenv("LIVEAPP_RESOURCES", m_path.c_str(), 1);
}

EditedResources::~EditedResources() {
    if (m_previous)
        setenv("LIVEAPP_RESOURCES", m_previous->c_str(), 1);
    else
        unsetenv("LIVEAPP_RESOURCES");
}

} // namespace liveapp::test
