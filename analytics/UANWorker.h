#pragma once
// The upload of the waiting envelope files: one POST per file to the collector's "/app_logs", trying
// the primary endpoint and then the fallback, in the order of the list it was given. A reply counts
// as the collector's answer only with a body and the content type "application/thrift"; a 200 answer
// consumes the file (its result code 1 decides whether the request counts as successful and whether
// the reply's imprint and id tracking are applied). Under back-off, a failed post drops every listed
// file. Every attempt stores "lastPostInterval" and counts the request.
//
// Runs on the pipeline's upload queue, one worker at a time, with synchronous requests; it clears the
// report rules' jobRunning when it ends, whatever happened.

#include "platform/dispatch/Operation.h"
#include "platform/net/URLRequest.h"

#include <string>
#include <vector>

class UANWorker final : public platform::Operation {
public:
    explicit UANWorker(std::vector<std::string> envelopeFilePaths);

    void main() override;
    bool postDataWithFile(const std::string& path);
    bool postDataToServer(const std::string& url, const std::string& path);
    platform::MutableURLRequest setupRequest(const std::string& url) const;

    std::vector<std::string> envelopeFilePaths() const;
    void setEnvelopeFilePaths(std::vector<std::string> paths);

private:
    void dropFile(const std::string& path);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_envelopeFilePaths;
};
