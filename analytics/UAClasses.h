#pragma once
// Registers the library's archivable classes with the class registry, once per process. Everything in
// the library that archives or unarchives calls it first; tests may call it too.

namespace uadetail {

void registerAnalyticsClasses();

} // namespace uadetail
