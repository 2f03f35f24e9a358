#pragma once
// What the ingest recorded of a published stream, told as a viewer would have received it: the codecs,
// picture size, frame rate, duration and the packets of each kind, with one decoded picture (about a
// second in) written where the walk-through's screens go. A recording without media, or cut short, is
// told plainly; nothing here fails the walk-through.

#include <filesystem>
#include <string>
#include <vector>

namespace devservice {

// One line per recording in `folder` ("ingest recorded live/42: ..."), or one saying none was made; the
// viewer's pictures go to `screens` as 16-viewer-saw.png (then -2, -3 ... for later recordings).
std::vector<std::string> reportRecordings(const std::filesystem::path& folder,
                                          const std::filesystem::path& screens);

// The line for one recording of the stream `name`, its picture written to `picture`.
std::string reportRecording(const std::filesystem::path& recording, const std::string& name,
                            const std::filesystem::path& picture);

} // namespace devservice
