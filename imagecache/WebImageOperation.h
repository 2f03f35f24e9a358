#pragma once
// WebImageOperation: a load or a download in progress that whoever started it may cancel. cancel() is
// safe from any thread and may be called more than once; what a cancel stops is the implementer's
// contract (a load reports nothing afterwards; a download stops its connection).
//
// Errors of the image loader itself are in WebImageErrorDomain; download errors of the platform keep
// their own domain.

inline constexpr const char* WebImageErrorDomain = "WebImageErrorDomain";

class WebImageOperation {
public:
    virtual ~WebImageOperation() = default;
    virtual void cancel() = 0;
};
