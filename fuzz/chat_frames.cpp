// Chat-server bytes as the chat client receives them: cut into reads of a size the input picks, split
// into frames and each frame read as an envelope. Beyond not crashing: the frames are the same
// however the bytes were cut, each carries its own length within the limit, and together with what is
// still pending they are exactly the bytes given (unless a frame over the limit refused the rest).
#include "app/core/ServiceModels.h"
#include "app/screens/ChatRoomProtocol.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_chat_frames: %s\n", what);
        std::abort();
    }
}

struct Outcome {
    std::vector<std::string> frames;
    bool refused{false};
    size_t pending{0};
};

Outcome split(std::span<const uint8_t> bytes, size_t readSize) {
    Outcome outcome;
    detail::ChatFrameSplitter splitter;
    for (size_t offset = 0; offset < bytes.size(); offset += readSize) {
        auto read = bytes.subspan(offset, std::min(readSize, bytes.size() - offset));
        outcome.refused = !splitter.append(read, [&](std::span<const uint8_t> frame) {
            outcome.frames.emplace_back(reinterpret_cast<const char*>(frame.data()), frame.size());
        });
    }
    outcome.pending = splitter.pendingLength();
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    registerServiceModels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t readSize = size_t(data[0] % 16) + 1;
    const std::span<const uint8_t> bytes(data + 1, size - 1);

    const Outcome whole = split(bytes, bytes.size() + 1);
    const Outcome cut = split(bytes, readSize);
    require(whole.frames == cut.frames && whole.refused == cut.refused,
            "frames depend on how reads were cut");

    size_t framed = 0;
    for (const auto& frame : whole.frames) {
        require(frame.size() >= 4, "a frame shorter than its prefix");
        const auto* prefix = reinterpret_cast<const uint8_t*>(frame.data());
        const size_t length =
            size_t(prefix[0]) << 24 | size_t(prefix[1]) << 16 | size_t(prefix[2]) << 8 | prefix[3];
        require(length == frame.size() - 4 && length <= detail::kMaximumChatFrameLength, "a frame's length");
        require(std::string_view(reinterpret_cast<const char*>(bytes.data()) + framed, frame.size()) == frame,
                "a frame that is not the next bytes");
        framed += frame.size();
        if (auto line = detail::chatLineOfFrame({prefix, frame.size()}))
            line->attributedString();
    }
    require(whole.refused || framed + whole.pending == bytes.size(), "bytes lost between frames");
    return 0;
}
