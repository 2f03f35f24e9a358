#include "platform/ui/UIDevice.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/SystemControl.h"

#include <fstream>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

std::string vendorOf(const std::string& bundleIdentifier) {
    auto dot = bundleIdentifier.rfind('.');
    return dot == std::string::npos ? bundleIdentifier : bundleIdentifier.substr(0, dot);
}

std::optional<std::string> osReleaseVersion() {
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("VERSION_ID=", 0) != 0)
            continue;
        std::string value = line.substr(11);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (!value.empty())
            return value;
    }
    return std::nullopt;
}

std::optional<UUID> readIdentifier(const std::filesystem::path& file) {
    auto data = AtomicFile::read(file);
    return data ? UUID::fromString(data->view().substr(0, 36)) : std::nullopt;
}

} // namespace

std::shared_ptr<UIDevice> UIDevice::currentDevice() {
    static const auto device = std::make_shared<UIDevice>();
    return device;
}

std::string UIDevice::name() const {
    return sysctlString("kern.hostname").value_or("localhost");
}

std::string UIDevice::model() const {
    return "iPhone";
}

std::string UIDevice::systemName() const {
    return sysctlString("kern.ostype").value_or("Linux");
}

std::string UIDevice::systemVersion() const {
    if (auto version = osReleaseVersion())
        return *version;
    return sysctlString("kern.osrelease").value_or("");
}

std::optional<UUID> UIDevice::identifierForVendor() const {
    auto folder = Paths::shared() / "vendors";
    auto file = folder / (vendorOf(Bundle::mainBundle()->bundleIdentifier().value_or("")) + ".uuid");
    if (auto known = readIdentifier(file))
        return known;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    // Written aside, then linked into place: link() refuses to replace, so when two applications race,
    // both end up with the one that landed first.
    auto candidate = folder / (file.filename().string() + ".new-" + std::to_string(getpid()));
    if (!AtomicFile::write(candidate, Data(std::string_view(UUID::create().UUIDString()))))
        return std::nullopt;
    [[maybe_unused]] int linked = link(candidate.c_str(), file.c_str());
    std::filesystem::remove(candidate, error);
    return readIdentifier(file);
}

} // namespace platform
