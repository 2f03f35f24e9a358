// A peer sending length-prefixed frames at full speed, read as a framing client does (a 4-byte length,
// then the body), with the peer's writes cut every way: the socket's own reads must never be mistaken
// for the peer ending the stream.
#include "tests/sockets/queue/SocketTestSupport.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>

using namespace queuesockettest;

namespace {

constexpr int kFrames = 300;
constexpr int kRunsPerPattern = 40;
constexpr int64_t kHeaderTag = 0;
constexpr int64_t kBodyTag = 1;

struct Frame {
    uint32_t header; // offset of the frame in the stream
    uint32_t bodyEnd;
};

struct Stream {
    std::string bytes;
    std::vector<Frame> frames;
};

Stream makeStream(std::mt19937& random) {
    Stream stream;
    std::uniform_int_distribution<uint32_t> bodyLength(1, 600);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < kFrames; ++i) {
        uint32_t length = bodyLength(random);
        auto header = static_cast<uint32_t>(stream.bytes.size());
        for (int shift : {24, 16, 8, 0})
            stream.bytes.push_back(static_cast<char>((length >> shift) & 0xff));
        for (uint32_t k = 0; k < length; ++k)
            stream.bytes.push_back(static_cast<char>(byte(random)));
        stream.frames.push_back({header, static_cast<uint32_t>(stream.bytes.size())});
    }
    return stream;
}

// Where the reads to length end: after each header and after each body.
std::vector<size_t> readEnds(const Stream& stream) {
    std::vector<size_t> ends;
    for (const auto& frame : stream.frames) {
        ends.push_back(frame.header + 4);
        ends.push_back(frame.bodyEnd);
    }
    return ends;
}

// Where the peer's writes end, as offsets into the stream (the last is its end).
using WritePattern = std::function<std::vector<size_t>(const Stream&, std::mt19937&)>;

// Writes of `least` to `most` whole frames.
WritePattern framesPerWrite(size_t least, size_t most) {
    return [least, most](const Stream& stream, std::mt19937& random) {
        std::vector<size_t> cuts;
        std::uniform_int_distribution<size_t> group(least, most);
        for (size_t i = group(random); i < stream.frames.size(); i += group(random))
            cuts.push_back(stream.frames[i].header);
        cuts.push_back(stream.bytes.size());
        return cuts;
    };
}

// Writes of 1 to `most` bytes, wherever they fall.
WritePattern piecesOfUpTo(size_t most) {
    return [most](const Stream& stream, std::mt19937& random) {
        std::vector<size_t> cuts;
        std::uniform_int_distribution<size_t> step(1, most);
        for (size_t at = step(random); at < stream.bytes.size(); at += step(random))
            cuts.push_back(at);
        cuts.push_back(stream.bytes.size());
        return cuts;
    };
}

// Reads frame after frame from the delegate queue, as soon as the previous read completes; counts the
// bytes read so far.
std::shared_ptr<std::atomic<size_t>> readFramesFrom(ConnectedPair& pair) {
    auto framesLeft = std::make_shared<int>(kFrames);
    auto bytesRead = std::make_shared<std::atomic<size_t>>(0);
    pair.delegate->onEvent = [framesLeft, bytesRead](const Event& event) {
        if (event.kind != EventKind::Read)
            return;
        *bytesRead += event.data.length();
        if (event.tag == kHeaderTag) {
            const auto* length = event.data.bytes();
            uint32_t bodyLength = uint32_t(length[0]) << 24 | uint32_t(length[1]) << 16 |
                                  uint32_t(length[2]) << 8 | uint32_t(length[3]);
            event.sock->readDataToLength(bodyLength, -1, kBodyTag);
        } else if (--*framesLeft > 0) {
            event.sock->readDataToLength(4, -1, kHeaderTag);
        }
    };
    pair.socket->readDataToLength(4, -1, kHeaderTag);
    return bytesRead;
}

size_t framesRead(const RecordingDelegate& delegate) {
    return delegate.count(EventKind::Read) / 2;
}

} // namespace

// Half the runs write as fast as the peer can; the other half write each piece once the reader has
// taken everything it can of the previous ones, so the socket's own reads often empty the descriptor
// just as it becomes readable again.
TEST(FramedStreamTest, EveryFrameArrivesWhateverWayThePeerCutsItsWrites) {
    const std::vector<std::pair<const char*, WritePattern>> patterns = {
        {"one frame per write", framesPerWrite(1, 1)},
        {"header and body in separate writes",
         [](const Stream& stream, std::mt19937&) { return readEnds(stream); }},
        {"several frames per write", framesPerWrite(2, 9)},
        {"writes cut anywhere, frames split across them", piecesOfUpTo(5000)},
        {"small pieces", piecesOfUpTo(256)},
    };
    std::mt19937 random(20240611);
    for (const auto& [name, pattern] : patterns) {
        for (int run = 0; run < kRunsPerPattern; ++run) {
            bool inStep = run % 2 == 1;
            SCOPED_TRACE(testing::Message() << name << (inStep ? ", in step" : ", free") << ", run " << run);
            Stream stream = makeStream(random);
            auto ends = readEnds(stream);
            auto pair = connectPair(AF_INET, {sel::didRead, sel::didDisconnect});
            ASSERT_TRUE(pair.socket);
            ASSERT_TRUE(pair.peer);
            int noDelay = 1;
            ::setsockopt(pair.peer->fd(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
            auto bytesRead = readFramesFrom(pair);

            size_t from = 0;
            for (size_t cut : pattern(stream, random)) {
                ASSERT_TRUE(pair.peer->sendAll(std::string_view(stream.bytes).substr(from, cut - from)))
                    << "the socket went away after " << framesRead(*pair.delegate) << " frames";
                from = cut;
                if (!inStep)
                    continue;
                auto after = std::upper_bound(ends.begin(), ends.end(), cut);
                size_t readable = after == ends.begin() ? 0 : *std::prev(after);
                pair.delegate->waitUntil([&](const std::vector<Event>& events) {
                    return *bytesRead >= readable || events.back().kind == EventKind::Disconnect;
                });
            }
            pair.delegate->waitUntil([](const std::vector<Event>& events) {
                auto reads = std::count_if(events.begin(), events.end(),
                                           [](const Event& e) { return e.kind == EventKind::Read; });
                return reads == 2 * kFrames || events.back().kind == EventKind::Disconnect;
            });
            ASSERT_EQ(pair.delegate->count(EventKind::Disconnect), 0u)
                << "closed after " << framesRead(*pair.delegate) << " frames";
            ASSERT_EQ(pair.delegate->readBytes(), stream.bytes);
        }
    }
}
