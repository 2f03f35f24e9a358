#pragma once
// Runs the current test again in a fresh copy of this test program, with one variable added to its
// environment: the copy sees the variable and plays the part whose end (the process's own end, a
// signal) the test is about. Answers the wait status of the copy, or -1 when it could not be started.

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace liveapp::test {

int waitStatusOfThisTestInAChild(const std::string& variable, const std::string& value = "1");

// Whether a wait status from the above is that of a copy that ended by itself with status 0; if not,
// says how it ended.
testing::AssertionResult endedCleanly(int status);

// For the copy: runs `work` without end on four threads and returns once it has run some thousands of
// times in all, so the copy ends as a test program does (through its static destructors) while the
// threads are still at it.
void workOnWhileTheProgramEnds(std::function<void()> work);

} // namespace liveapp::test
