#pragma once
// The lock over what the analytics library keeps in memory: the sessions, events, crash records and
// counters, and the session's state. They belong to the main thread, which holds this lock whenever it
// handles them (each event, each timer, each change of the application's activity). The one other
// thread that takes it is the crash thread, which saves them for a main thread stopped by a fatal
// signal: it finds them whole, or, when the main thread stopped while holding the lock, waits there
// until the process dies. Recursive, since those handlers call one another. Never destroyed: a crash
// may come during exit.

#include <mutex>

namespace uadetail {

std::recursive_mutex& recordsMutex();

} // namespace uadetail
