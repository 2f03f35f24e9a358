#pragma once
// Ready-made handlers and replies for the behaviours HTTP tests keep needing: replies held on a gate,
// bodies held part-way, conditional (304) replies and a scripted sequence of replies. Each runs on
// the connection's thread like any handler; the state they share across requests is guarded.

#include "tests/peers/HttpGate.h"
#include "tests/peers/HttpMessage.h"
#include "tests/peers/HttpServer.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace liveapp::test {

// Waits on the gate, then answers `response` (also when the server's stop opened the gate).
HttpHandler replyAfter(std::shared_ptr<HttpGate> gate, HttpResponse response);

// Sends the status, the headers and body[0, heldAt), waits on the gate, then sends the rest. The
// client sees a reply that stalls mid-body; with `chunked` false it knows the full Content-Length.
HttpResponse bodyHeldAt(std::shared_ptr<HttpGate> gate, std::string body, size_t heldAt, bool chunked,
                        std::string contentType = "application/octet-stream");

// Answers `full` with ETag (and Last-Modified when given), or 304 Not Modified without a body when
// the request's If-None-Match names the ETag (or "*"), or, with no If-None-Match, its
// If-Modified-Since repeats Last-Modified exactly.
HttpHandler replyConditionally(HttpResponse full, std::string etag,
                               std::optional<std::string> lastModified = {});

// Answers successive requests with successive responses; the last one repeats.
HttpHandler replyInTurn(std::vector<HttpResponse> responses);

} // namespace liveapp::test
