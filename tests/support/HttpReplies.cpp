#include "tests/support/HttpReplies.h"

#include <mutex>

namespace liveapp::test {

namespace {

bool etagListed(const std::string& list, const std::string& etag) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        std::string item = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t first = item.find_first_not_of(" \t");
        size_t last = item.find_last_not_of(" \t");
        item = first == std::string::npos ? std::string() : item.substr(first, last - first + 1);
        // Weak comparison: W/"x" and "x" name the same representation for a conditional GET.
        auto strip = [](const std::string& tag) { return tag.starts_with("W/") ? tag.substr(2) : tag; };
        if (item == "*" || (!item.empty() && strip(item) == strip(etag)))
            return true;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return false;
}

} // namespace

HttpHandler replyAfter(std::shared_ptr<HttpGate> gate, HttpResponse response) {
    return [gate = std::move(gate), response = std::move(response)](const HttpRequest&, HttpResponse& out) {
        gate->wait();
        out = response;
    };
}

HttpResponse bodyHeldAt(std::shared_ptr<HttpGate> gate, std::string body, size_t heldAt, bool chunked,
                        std::string contentType) {
    HttpResponse response;
    response.headers.add("Content-Type", std::move(contentType));
    if (!chunked)
        response.contentLength = body.size();
    heldAt = std::min(heldAt, body.size());
    response.bodyWriter = [gate = std::move(gate), body = std::move(body), heldAt](HttpBodySink& sink) {
        std::string_view all = body;
        return sink.write(all.substr(0, heldAt)) && sink.wait(*gate) && sink.write(all.substr(heldAt));
    };
    return response;
}

HttpHandler replyConditionally(HttpResponse full, std::string etag, std::optional<std::string> lastModified) {
    full.headers.set("ETag", etag);
    if (lastModified)
        full.headers.set("Last-Modified", *lastModified);
    return [full = std::move(full), etag = std::move(etag),
            lastModified = std::move(lastModified)](const HttpRequest& request, HttpResponse& out) {
        bool unchanged = false;
        if (auto ifNoneMatch = request.header("If-None-Match"))
            unchanged = etagListed(*ifNoneMatch, etag);
        else if (auto ifModifiedSince = request.header("If-Modified-Since"))
            unchanged = lastModified && *ifModifiedSince == *lastModified;
        if (!unchanged) {
            out = full;
            return;
        }
        out = HttpResponse();
        out.status = 304;
        // A 304 repeats the validators and caching headers the full reply would have carried.
        for (const char* name : {"ETag", "Last-Modified", "Cache-Control", "Expires", "Date", "Vary"}) {
            for (const std::string& value : full.headers.all(name))
                out.headers.add(name, value);
        }
    };
}

HttpHandler replyInTurn(std::vector<HttpResponse> responses) {
    struct Turns {
        std::mutex mutex;
        std::vector<HttpResponse> responses;
        size_t next{0};
    };
    auto turns = std::make_shared<Turns>();
    turns->responses = std::move(responses);
    return [turns](const HttpRequest&, HttpResponse& out) {
        std::lock_guard lock(turns->mutex);
        if (turns->responses.empty()) {
            out = HttpResponse::notFound();
            return;
        }
        out = turns->responses[std::min(turns->next, turns->responses.size() - 1)];
        ++turns->next;
    };
}

} // namespace liveapp::test
