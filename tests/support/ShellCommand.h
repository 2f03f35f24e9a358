#pragma once
// Running the independent tools that tests cross-check against (openssl, md5sum, sqlite3, Debian's
// Python) through the shell.

#include <string>

namespace liveapp::test {

// Runs a shell command; its standard output, and its exit code through `exitCode` (-1 when it did not
// exit normally).
std::string runCommand(const std::string& command, int* exitCode = nullptr);

// Quotes a text for the shell.
std::string shellQuoted(const std::string& text);

} // namespace liveapp::test
