#pragma once
// Runs a block once per token for the life of the process, however many threads race to it; the
// others wait until it has run. If the block throws, the next caller runs it again.
//
//     static platform::DispatchOnceToken onceToken;
//     platform::dispatchOnce(onceToken, [] { sharedThing = makeThing(); });

#include <mutex>
#include <utility>

namespace platform {

using DispatchOnceToken = std::once_flag;

template <class Block> void dispatchOnce(DispatchOnceToken& token, Block&& block) {
    std::call_once(token, std::forward<Block>(block));
}

} // namespace platform
