// Reads the input's lines as URL texts: the first as a URL, the second as a reference resolved
// against it, the third as a path component or extension to add. Beyond not crashing, it holds URL
// to its promises: a URL keeps its text as given and reads back from it unchanged; a URL resolved
// against an absolute one, or built from one, has a text that reads back as a URL with the same
// components; percent-encoding any text gives a valid component that decodes to that text.
#include "platform/foundation/URL.h"

#include "platform/foundation/Fatal.h"
#include "platform/foundation/Text.h"

#include <string>
#include <string_view>
#include <vector>

using namespace platform;

namespace {

bool sameComponents(const URL& a, const URL& b) {
    return a.scheme() == b.scheme() && a.host() == b.host() && a.port() == b.port() && a.user() == b.user() &&
           a.password() == b.password() && a.path() == b.path() && a.query() == b.query() &&
           a.fragment() == b.fragment() && a.pathComponents() == b.pathComponents();
}

// Reading every component must be safe on any URL.
void touch(const URL& url) {
    (void)url.scheme();
    (void)url.host();
    (void)url.port();
    (void)url.user();
    (void)url.password();
    (void)url.path();
    (void)url.lastPathComponent();
    (void)url.pathExtension();
    (void)url.isFileURL();
}

// A URL made by the class (resolved or built) must read back from its own text.
void requireReadsBack(const URLPtr& url, const char* what) {
    if (!url)
        return;
    touch(*url);
    URLPtr again = URL::create(url->absoluteString());
    fatalUnless(again != nullptr, what, url->absoluteString());
    fatalUnless(sameComponents(*url, *again), what, url->absoluteString());
}

void checkCreated(std::string_view text) {
    URLPtr url = URL::create(text);
    if (!url)
        return;
    fatalUnless(url->absoluteString() == text, "a URL does not keep its text", text);
    requireReadsBack(url, "a URL does not read back from its text");
}

// References resolve against absolute URLs; against a relative base any text may come out (even
// none), so only safety is asked of that.
void checkResolved(const URLPtr& base, std::string_view reference) {
    URLPtr resolved = URL::create(reference, base);
    if (!base->scheme()) {
        if (resolved)
            touch(*resolved);
        return;
    }
    requireReadsBack(resolved, "a resolved URL does not read back from its text");
    if (resolved) {
        URLPtr alone = URL::create(reference);
        auto scheme = alone && alone->scheme() ? alone->scheme() : base->scheme();
        fatalUnless(resolved->scheme() == scheme, "a resolved URL has the wrong scheme",
                    resolved->absoluteString());
    }
}

void checkBuilt(const URLPtr& url, std::string_view addition) {
    URLPtr appended = url->URLByAppendingPathComponent(addition);
    requireReadsBack(appended, "an appended URL does not read back from its text");
    bool plainComponent =
        !addition.empty() && addition.find('/') == std::string_view::npos && text::isValidUTF8(addition);
    // A component whose escapes are not UTF-8 comes back as written, so only URLs whose whole
    // text decodes promise the component back.
    auto decodes = [](const URLPtr& url) { return URL::percentDecode(url->absoluteString()).has_value(); };
    if (appended && plainComponent && decodes(appended))
        fatalUnless(appended->lastPathComponent() == addition, "an appended component reads back changed",
                    appended->absoluteString());

    requireReadsBack(url->URLByDeletingLastPathComponent(),
                     "a shortened URL does not read back from its text");

    URLPtr extended = url->URLByAppendingPathExtension(addition);
    requireReadsBack(extended, "an extended URL does not read back from its text");
    if (extended && plainComponent && addition.find('.') == std::string_view::npos && decodes(extended))
        fatalUnless(extended->pathExtension() == addition, "an added extension reads back changed",
                    extended->absoluteString());
}

void checkPercentEncoding(std::string_view text) {
    bool utf8 = text::isValidUTF8(text);
    for (std::string_view allowed :
         {std::string_view(), URL::queryAllowed, URL::pathAllowed, URL::hostAllowed, URL::userAllowed}) {
        std::string encoded = URL::percentEncode(text, allowed);
        auto decoded = URL::percentDecode(encoded);
        if (utf8)
            fatalUnless(decoded && *decoded == text, "percent-encoding does not decode back", encoded);
        else
            fatalUnless(!decoded, "bytes that are not UTF-8 decoded from percent-encoding", encoded);
    }
    // Encoded for a query, any text is a valid query that comes back as encoded.
    std::string query = URL::percentEncode(text, URL::queryAllowed);
    URLPtr url = URL::create("http://example.com/?" + query);
    fatalUnless(url && url->query() == query, "an encoded query does not stand in a URL", query);
    std::string fragment = URL::percentEncode(text, URL::fragmentAllowed);
    url = URL::create("http://example.com/#" + fragment);
    fatalUnless(url && url->fragment() == fragment, "an encoded fragment does not stand in a URL", fragment);
    if (utf8) {
        std::string path = URL::percentEncode(text, URL::pathAllowed);
        url = URL::create("http://example.com/" + path);
        fatalUnless(url != nullptr, "an encoded path does not stand in a URL", path);
        if (!text.ends_with('/'))
            fatalUnless(url->path() == "/" + std::string(text), "an encoded path reads back changed", path);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(bytes), size);
    std::vector<std::string_view> lines;
    for (size_t start = 0; lines.size() < 3;) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(input.substr(start));
            break;
        }
        lines.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    lines.resize(3);

    checkPercentEncoding(input);
    for (auto line : lines)
        checkCreated(line);

    URLPtr base = URL::create(lines[0]);
    if (!base)
        return 0;
    checkResolved(base, lines[1]);
    checkBuilt(base, lines[2]);
    if (URLPtr resolved = URL::create(lines[1], base); resolved && base->scheme())
        checkBuilt(resolved, lines[2]);
    return 0;
}
