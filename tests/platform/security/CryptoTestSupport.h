#pragma once
// Running the independent tools the crypto tests cross-check against (md5sum, openssl enc, Debian's
// Python) over files in a scratch directory.

#include "tests/support/ShellCommand.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace securitytest {

class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::filesystem::path write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

using liveapp::test::runCommand;

std::string pseudoRandomBytes(size_t length, uint32_t seed);
std::string hex(const std::string& bytes);

} // namespace securitytest
