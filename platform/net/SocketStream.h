#pragma once
// The read/write stream pair over one TCP connection (the platform's socket streams): made over a
// connected socket, or over a host and port that the pair resolves (through the resolver seam) and
// connects to once opened. Either stream can carry TLS: hand both the SSL settings dictionary
// (kCFStreamPropertySSLSettings, keys in platform/security/TlsSettingsKeys.h) and the handshake runs
// inside the pair; reads and writes then move plaintext. A pair to a host checks the certificate
// against that host unless the settings name another peer; a pair over a socket checks a name only
// when the settings give one.
//
// Events: a client registers for an event mask and a callback, and schedules the stream on a run
// loop in one or more modes. Events are delivered only from that loop, while it runs in one of
// those modes; never from inside open, read, write or any other call. Readiness events are edges:
// after "has bytes" the next one comes only once the client has read, after "can accept" only once
// it has written. No "has bytes" or "can accept" comes while a TLS handshake runs, so the first ones
// after TLS settings were set tell that the handshake is through. A read stream whose client takes
// only the end and error events stops watching while bytes wait (someone else reads them), until a
// read or hasBytesAvailable() through it.
//
// Calls are thread-safe (a socket queue may read while the stream thread receives events). Like the
// platform's, read and write block until they can move a byte (or the stream ends or fails); call
// them after the readiness events or the readiness queries. Releasing a stream closes it; the
// descriptor is closed when both streams are closed only with kCFStreamPropertyShouldCloseNativeSocket
// true (the default only for pairs to a host). Not promised: an order between the two streams' events.

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/runloop/RunLoop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

namespace detail {
class SocketStreamCore;
}

enum StreamStatus : int64_t {
    kCFStreamStatusNotOpen = 0,
    kCFStreamStatusOpening = 1,
    kCFStreamStatusOpen = 2,
    kCFStreamStatusReading = 3,
    kCFStreamStatusWriting = 4,
    kCFStreamStatusAtEnd = 5,
    kCFStreamStatusClosed = 6,
    kCFStreamStatusError = 7,
};

using StreamEventType = uint32_t;
inline constexpr StreamEventType kCFStreamEventNone = 0;
inline constexpr StreamEventType kCFStreamEventOpenCompleted = 1;
inline constexpr StreamEventType kCFStreamEventHasBytesAvailable = 2;
inline constexpr StreamEventType kCFStreamEventCanAcceptBytes = 4;
inline constexpr StreamEventType kCFStreamEventErrorOccurred = 8;
inline constexpr StreamEventType kCFStreamEventEndEncountered = 16;

// A stream error: a domain and a code in it (errno, an EAI_* code, a TLS status ...).
using StreamErrorDomain = int64_t;
inline constexpr StreamErrorDomain kCFStreamErrorDomainCustom = -1;
inline constexpr StreamErrorDomain kCFStreamErrorDomainPOSIX = 1;
inline constexpr StreamErrorDomain kCFStreamErrorDomainMacOSStatus = 2;
inline constexpr StreamErrorDomain kCFStreamErrorDomainSSL = 3;
inline constexpr StreamErrorDomain kCFStreamErrorDomainSOCKS = 5;
inline constexpr StreamErrorDomain kCFStreamErrorDomainNetServices = 10;
inline constexpr StreamErrorDomain kCFStreamErrorDomainMach = 11;
inline constexpr StreamErrorDomain kCFStreamErrorDomainNetDB = 12;
inline constexpr StreamErrorDomain kCFStreamErrorDomainSystemConfiguration = 13;

struct StreamError {
    StreamErrorDomain domain{0};
    int32_t error{0};
    bool operator==(const StreamError&) const = default;
};

// The error as an Error object (what copyError answers): POSIX codes in NSPOSIXErrorDomain, TLS
// statuses in "kCFStreamErrorDomainSSL", resolver codes in "kCFStreamErrorDomainNetDB" with the
// resolver's text. Null for no error.
ErrorPtr errorFromStreamError(const StreamError& error);

// Properties. The native handle is read-only: Data holding the descriptor as an int.
inline constexpr const char* kCFStreamPropertyShouldCloseNativeSocket =
    "kCFStreamPropertyShouldCloseNativeSocket";
inline constexpr const char* kCFStreamPropertySocketNativeHandle = "kCFStreamPropertySocketNativeHandle";
inline constexpr const char* kCFStreamPropertySSLSettings = "kCFStreamPropertySSLSettings";
inline constexpr const char* kCFStreamNetworkServiceType = "kCFStreamNetworkServiceType";
inline constexpr const char* kCFStreamNetworkServiceTypeVoIP = "kCFStreamNetworkServiceTypeVoIP";

// What the two streams share: status, error, client, scheduling and properties.
class SocketStream : public Object {
public:
    ~SocketStream() override;

    // Starts the stream. False when it fails at once (status Error). A pair to a host connects in the
    // background (status Opening); OpenCompleted follows on the loop either way.
    bool open();
    void close();
    StreamStatus status() const;
    StreamError error() const;
    ErrorPtr copyError() const;

    // Nil for an unknown key, or for the native handle before the pair has a descriptor.
    Value copyProperty(std::string_view key) const;
    // False for an unknown or read-only key, a value of the wrong type, SSL settings the TLS engine
    // refuses, or SSL settings once a different TLS session has begun.
    bool setProperty(std::string_view key, const Value& value);

    // Mode registrations add up; a stream follows one run loop at a time (false for a second one
    // until it is unscheduled from the first in every mode).
    bool scheduleWithRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode);
    void unscheduleFromRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode);

protected:
    enum class Side { Read = 0, Write = 1 };
    SocketStream(std::shared_ptr<detail::SocketStreamCore> core, Side side);
    bool setClientCallback(StreamEventType events, std::function<void(StreamEventType)> callback);

    const std::shared_ptr<detail::SocketStreamCore> m_core;
    const Side m_side;
};

class ReadStream final : public SocketStream {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using ClientCallback = std::function<void(ReadStream& stream, StreamEventType event)>;

    ReadStream(PrivateTag, std::shared_ptr<detail::SocketStreamCore> core);

    // Bytes read (at most maxLength), 0 at the end of the stream, -1 on error (or when not open).
    int64_t read(uint8_t* buffer, int64_t maxLength);
    // True when a read would not block for want of bytes.
    bool hasBytesAvailable();
    // Events outside kCFStreamEventOpenCompleted | HasBytesAvailable | ErrorOccurred | EndEncountered
    // are ignored. An empty callback or no events removes the client.
    bool setClient(StreamEventType events, ClientCallback callback);

private:
    friend class SocketStreamPair;
};

class WriteStream final : public SocketStream {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using ClientCallback = std::function<void(WriteStream& stream, StreamEventType event)>;

    WriteStream(PrivateTag, std::shared_ptr<detail::SocketStreamCore> core);

    // Bytes taken (at least 1 unless it fails), -1 on error (or when not open).
    int64_t write(const uint8_t* buffer, int64_t length);
    // True when a write would take at least one byte without blocking.
    bool canAcceptBytes();
    bool setClient(StreamEventType events, ClientCallback callback);

private:
    friend class SocketStreamPair;
};

class SocketStreamPair {
public:
    std::shared_ptr<ReadStream> readStream;
    std::shared_ptr<WriteStream> writeStream;

    // Over a connected socket, which stays the caller's unless kCFStreamPropertyShouldCloseNativeSocket
    // is set true. Null streams for a negative descriptor.
    static SocketStreamPair createWithSocket(int fd);
    // To a host (a name, or a numeric IPv4 or IPv6 address) and port, connected once opened.
    static SocketStreamPair createWithSocketToHost(std::string host, uint16_t port);

private:
    static SocketStreamPair wrap(std::shared_ptr<detail::SocketStreamCore> core);
};

} // namespace platform
