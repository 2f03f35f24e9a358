#pragma once
// An absolute or relative URL (RFC 3986), immutable and shared. create() refuses texts that are not
// a URL (spaces, bad percent-escapes, a bad port) by returning null, as the platform does.
// Components come back percent-decoded except absoluteString(), query() and fragment(), which are
// as parsed or built. A reference made relative to a base is resolved at once (RFC 3986 section 5);
// the result is an absolute URL and keeps no link to the base. Immutable, so any thread may share one.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class URL;
using URLPtr = std::shared_ptr<const URL>;

class URL {
public:
    static URLPtr create(std::string_view text);                     // URLWithString:
    static URLPtr create(std::string_view text, const URLPtr& base); // URLWithString:relativeToURL:
    static URLPtr fileURLWithPath(std::string_view path);

    const std::string& absoluteString() const { return m_absolute; }
    std::optional<std::string> scheme() const;
    std::optional<std::string> host() const;
    std::optional<uint16_t> port() const;
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    // Decoded (as written if it does not decode), without a trailing "/" ("/" itself stays); "" when none.
    std::string path() const;
    std::optional<std::string> query() const;    // as written (still percent-encoded)
    std::optional<std::string> fragment() const; // as written
    std::string lastPathComponent() const;
    std::string pathExtension() const; // "" when the last component has none
    std::vector<std::string> pathComponents() const;
    bool isFileURL() const;

    URLPtr URLByAppendingPathComponent(std::string_view component) const;
    URLPtr URLByDeletingLastPathComponent() const;
    URLPtr URLByAppendingPathExtension(std::string_view extension) const;

    bool operator==(const URL& other) const { return m_absolute == other.m_absolute; }

    // Percent-encodes every byte but the unreserved characters (ALPHA DIGIT - . _ ~).
    static std::string percentEncode(std::string_view text);
    // Percent-encodes what may not stand in the given component; `allowed` lists extra characters kept as
    // they are.
    static std::string percentEncode(std::string_view text, std::string_view allowed);
    // nullopt on a malformed escape or when the decoded bytes are not UTF-8.
    static std::optional<std::string> percentDecode(std::string_view text);

    // What may stand unescaped in each component besides the unreserved characters: pass one as
    // percentEncode's `allowed`.
    static constexpr std::string_view queryAllowed = "!$&'()*+,/:;=?@";
    static constexpr std::string_view fragmentAllowed = "!$&'()*+,/:;=?@";
    static constexpr std::string_view pathAllowed = "!$&'()*+,/:=@";
    static constexpr std::string_view hostAllowed = "!$&'()*+,:;=[]";
    static constexpr std::string_view userAllowed = "!$&'()*+,;=";
    static constexpr std::string_view passwordAllowed = "!$&'()*+,;=";

    struct Parts; // the parsed components (defined in URL.cpp)
    // Prefer create(): this keeps any text, reading one that is not a URL as a bare path.
    explicit URL(std::string absolute);
    URL(std::string absolute, std::unique_ptr<Parts> parts);
    ~URL();

private:
    std::string m_absolute;
    std::unique_ptr<Parts> m_parts;
};

} // namespace platform
