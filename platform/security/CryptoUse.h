#pragma once
// Internal to platform/security. The crypto library tears itself down when the process exits, from a
// clean-up it registers as it is loaded, while a dispatch worker may still be hashing (an image
// download's cache key) or ciphering: the tear-down would free the library's tables under that call.
// Each of our calls into the library holds a CryptoUse for its length; an exit hook, registered after
// the library's and so run before it, lets the calls under way finish and holds back any that start
// later (their threads end with the process).

namespace platform::detail {

class CryptoUse {
public:
    CryptoUse();
    ~CryptoUse();
    CryptoUse(const CryptoUse&) = delete;
    CryptoUse& operator=(const CryptoUse&) = delete;
};

} // namespace platform::detail
