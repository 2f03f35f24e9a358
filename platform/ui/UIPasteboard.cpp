#include "platform/ui/UIPasteboard.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Paths.h"

#include <cctype>
#include <fmt/format.h>
#include <system_error>

namespace platform {

namespace {

std::mutex g_registryMutex;
std::map<std::string, UIPasteboardPtr, std::less<>>& registry() {
    static std::map<std::string, UIPasteboardPtr, std::less<>> pasteboards;
    return pasteboards;
}

// Names and types become file names: anything but letters, digits, '.', '_' and '-' is %XX.
std::string fileNameFor(std::string_view text) {
    std::string name;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-')
            name += static_cast<char>(c);
        else
            name += fmt::format("%{:02X}", c);
    }
    if (name.empty() || name == "." || name == "..")
        name = "%" + name;
    return name;
}

std::filesystem::path folderFor(std::string_view name) {
    return Paths::shared() / "pasteboards" / fileNameFor(name);
}

bool isDirectory(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

} // namespace

UIPasteboard::UIPasteboard(Private, std::string name, bool persistent)
    : m_name(std::move(name))
    , m_persistent(persistent) {}

UIPasteboardPtr UIPasteboard::pasteboardWithName(const std::string& name, bool create) {
    std::lock_guard lock(g_registryMutex);
    auto& pasteboards = registry();
    bool onDisk = isDirectory(folderFor(name));
    if (auto known = pasteboards.find(name); known != pasteboards.end()) {
        // Another application may have removed the shared copy since.
        if (!known->second->isPersistent() || onDisk)
            return known->second;
        pasteboards.erase(known);
    }
    if (!onDisk && !create)
        return nullptr;
    auto pasteboard = std::make_shared<UIPasteboard>(Private{}, name, onDisk);
    pasteboards[name] = pasteboard;
    return pasteboard;
}

void UIPasteboard::removePasteboardWithName(const std::string& name) {
    std::lock_guard lock(g_registryMutex);
    registry().erase(name);
    std::error_code ignored;
    std::filesystem::remove_all(folderFor(name), ignored);
}

std::filesystem::path UIPasteboard::folder() const {
    return folderFor(m_name);
}

bool UIPasteboard::isPersistent() const {
    std::lock_guard lock(m_mutex);
    return m_persistent;
}

void UIPasteboard::setPersistent(bool persistent) {
    std::lock_guard lock(m_mutex);
    if (persistent == m_persistent)
        return;
    m_persistent = persistent;
    std::error_code ignored;
    if (persistent) {
        std::filesystem::create_directories(folder(), ignored);
        for (const auto& [fileName, data] : m_items)
            AtomicFile::write(folder() / fileName, data);
        m_items.clear();
        return;
    }
    for (std::filesystem::directory_iterator it(folder(), ignored), end; !ignored && it != end;
         it.increment(ignored)) {
        if (auto data = AtomicFile::read(it->path()))
            m_items[it->path().filename().string()] = *data;
    }
    std::filesystem::remove_all(folder(), ignored);
}

std::optional<Data> UIPasteboard::dataForPasteboardType(std::string_view pasteboardType) const {
    std::lock_guard lock(m_mutex);
    if (m_persistent)
        return AtomicFile::read(folder() / fileNameFor(pasteboardType));
    auto found = m_items.find(fileNameFor(pasteboardType));
    return found == m_items.end() ? std::nullopt : std::optional(found->second);
}

void UIPasteboard::setData(const Data& data, std::string_view pasteboardType) {
    std::lock_guard lock(m_mutex);
    if (!m_persistent) {
        m_items[fileNameFor(pasteboardType)] = data;
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(folder(), ignored);
    AtomicFile::write(folder() / fileNameFor(pasteboardType), data);
}

} // namespace platform
