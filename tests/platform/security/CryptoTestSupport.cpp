#include "CryptoTestSupport.h"

#include "platform/foundation/Paths.h"
#include "tests/support/ShellCommand.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace securitytest {

std::string runOn(const std::string& command, const std::string& input, int* exitCode) {
    auto path = platform::Paths::temporary() / ("security-tool-input-" + std::to_string(getpid()));
    std::ofstream(path, std::ios::binary).write(input.data(), static_cast<std::streamsize>(input.size()));
    std::string output = liveapp::test::runCommand(command + " " + path.string() + " 2>/dev/null", exitCode);
    std::filesystem::remove(path);
    return output;
}

std::string pseudoRandomBytes(size_t length, uint32_t seed) {
    std::string bytes(length, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text.push_back(digits[c >> 4]);
        text.push_back(digits[c & 15]);
    }
    return text;
}

} // namespace securitytest
