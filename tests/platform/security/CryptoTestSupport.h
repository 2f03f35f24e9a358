#pragma once
// Running the independent tools the crypto tests cross-check against (md5sum, openssl, Debian's Python)
// over bytes written to a scratch file.

#include <cstdint>
#include <string>

namespace securitytest {

// Runs `command` with the path of a file holding `input` appended; answers its standard output.
std::string runOn(const std::string& command, const std::string& input, int* exitCode = nullptr);

std::string pseudoRandomBytes(size_t length, uint32_t seed);
std::string hex(const std::string& bytes);

} // namespace securitytest
