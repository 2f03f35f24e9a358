#pragma once
// Runs the current test again in a fresh copy of this test program, with one variable added to its
// environment: the copy sees the variable and plays the part whose end (the process's own end, a
// signal) the test is about. Answers the wait status of the copy, or -1 when it could not be started.

#include <string>

namespace liveapp::test {

int waitStatusOfThisTestInAChild(const std::string& variable, const std::string& value = "1");

} // namespace liveapp::test
