#pragma once
// Stopping the process on a fault nothing can recover from: misuse the platform forbids (an unbalanced
// resume, a loop run on a thread that does not own it), or a system facility that is missing (no
// descriptors for a run loop, no random bytes). The message goes to standard error, then the process
// aborts. Never for bad input, which is reported to the caller instead.

#include <string>
#include <string_view>

namespace platform {

[[noreturn]] void fatalError(std::string_view message);

// The same for a fault found while an exception is being handled (inside a catch block): the message,
// then std::terminate with the exception still current, so the terminate handler can report what was
// thrown.
[[noreturn]] void fatalErrorRethrowing(std::string_view message);

// fatalError(message) unless `condition` holds.
inline void fatalUnless(bool condition, std::string_view message) {
    if (!condition)
        fatalError(message);
}

// The same, naming what the fault was found in (an input, a class) after the message; the text is
// put together only when the condition fails.
inline void fatalUnless(bool condition, std::string_view message, std::string_view subject) {
    if (!condition)
        fatalError(std::string(message) + " [" + std::string(subject) + "]");
}

} // namespace platform
