#pragma once
// Owning handles for libavcodec's and libswscale's objects: the platform's own (platform/media), under
// the names the test peers use.

#include "platform/media/CodecHandles.h"

namespace liveapp::test {

using CodecContextPtr = platform::detail::CodecContextHandle;
using FramePtr = platform::detail::CodecFrameHandle;
using PacketPtr = platform::detail::CodecPacketHandle;
using ScalePtr = platform::detail::PixelConverterHandle;

} // namespace liveapp::test
