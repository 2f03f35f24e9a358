#pragma once
// AutoPurgeCache: the image cache's memory tier, a platform cache that empties itself when the
// application receives a memory warning, for as long as it lives. Thread-safe like its base.

#include "platform/foundation/Cache.h"

#include <memory>

class AutoPurgeCache : public platform::Cache {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static std::shared_ptr<AutoPurgeCache> create();

    explicit AutoPurgeCache(PrivateTag) {}
    ~AutoPurgeCache() override;
};
