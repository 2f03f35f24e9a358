#pragma once
// How the image loader reaches the main thread: queued behind what is already there, run directly when
// the caller is the main thread and queued otherwise, or run with the caller waiting (directly when the
// caller is the main thread). An empty block is skipped.

#include <functional>

namespace imagecache::detail {

void onMainQueue(std::function<void()> block);
void onMainThread(std::function<void()> block);
void onMainThreadAndWait(const std::function<void()>& block);

} // namespace imagecache::detail
