#pragma once
// What a server answered, without the body: the URL it answered for, the content type and expected
// length, and for HTTP the status and header fields. Immutable once made; shared by pointer across
// the network thread, delegate queues and callers. An HTTP response and its header fields are one
// allocation, freed as one by whichever thread lets the response go.

#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPHeaderFields.h"

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>

namespace platform {

inline constexpr int64_t NSURLResponseUnknownLength = -1;

class URLResponse : public Object {
public:
    // initWithURL:MIMEType:expectedContentLength:textEncodingName:
    URLResponse(URLPtr url, std::optional<std::string> MIMEType, int64_t expectedContentLength,
                std::optional<std::string> textEncodingName);

    const URLPtr& URL() const { return m_url; }
    const std::optional<std::string>& MIMEType() const { return m_mimeType; } // lowercase
    int64_t expectedContentLength() const { return m_expectedContentLength; } // -1 when unknown
    const std::optional<std::string>& textEncodingName() const { return m_textEncodingName; }
    // A file name for the body: Content-Disposition's, else the URL's last path component, else "Unknown".
    virtual std::string suggestedFilename() const;

    std::string description() const override;

private:
    URLPtr m_url;
    std::optional<std::string> m_mimeType;
    int64_t m_expectedContentLength{NSURLResponseUnknownLength};
    std::optional<std::string> m_textEncodingName;
};

using URLResponsePtr = std::shared_ptr<URLResponse>;

class HTTPURLResponse final : public URLResponse {
public:
    // initWithURL:statusCode:HTTPVersion:headerFields: — null without a URL or with a status outside
    // 100...599. The MIME type, text encoding and expected length are read from the header fields
    // (a length is unknown when the body is content-encoded, since the session hands out decoded bytes).
    static std::shared_ptr<HTTPURLResponse> create(URLPtr url, int64_t statusCode,
                                                   std::string HTTPVersion = "HTTP/1.1",
                                                   HTTPHeaderFields headerFields = {});
    // As create(), with the response's block taken from `blocks` (which must outlive it).
    static std::shared_ptr<HTTPURLResponse> createIn(std::pmr::memory_resource* blocks, URLPtr url,
                                                     int64_t statusCode, std::string HTTPVersion,
                                                     HTTPHeaderFields headerFields);
    // As createIn(), from the views of a reply's lines (a repeated name kept on each), copied once,
    // straight into the response.
    static std::shared_ptr<HTTPURLResponse> createIn(std::pmr::memory_resource* blocks, URLPtr url,
                                                     int64_t statusCode, std::string HTTPVersion,
                                                     std::span<const HTTPHeaderFields::FieldView> lines);

    int64_t statusCode() const { return m_statusCode; }
    const std::string& HTTPVersion() const { return m_httpVersion; }
    const HTTPHeaderFields& allHeaderFields() const { return m_headerFields; }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const {
        return m_headerFields.value(field);
    }
    std::string suggestedFilename() const override;

    // The platform's short lowercase text for a status ("no error", "not found", "internal server error").
    static std::string localizedStringForStatusCode(int64_t statusCode);

    std::string description() const override;

    struct Parts;
    struct Room; // where create() keeps the fields, in the response's own allocation
    // `lines`: the fields, or the views of a reply's lines, copied into `room`.
    template <typename Lines>
    HTTPURLResponse(Parts parts, int64_t statusCode, std::string HTTPVersion, const Lines& lines,
                    const Room& room);

private:
    template <typename Lines>
    static std::shared_ptr<HTTPURLResponse> make(std::pmr::memory_resource* blocks, URLPtr url,
                                                 int64_t statusCode, std::string HTTPVersion,
                                                 const Lines& lines);

    int64_t m_statusCode;
    std::string m_httpVersion;
    HTTPHeaderFields m_headerFields;
};

using HTTPURLResponsePtr = std::shared_ptr<HTTPURLResponse>;

} // namespace platform
