#include "platform/security/OpenSslSupport.h"

namespace platform::detail {

std::string bioText(BIO* bio) {
    char* bytes = nullptr;
    long length = BIO_get_mem_data(bio, &bytes);
    if (length <= 0 || !bytes)
        return {};
    return std::string(bytes, static_cast<size_t>(length));
}

X509_STORE* systemTrustStore() {
    // Loaded once: reading the CA directory is slow, and the store is safe for concurrent lookups.
    // Kept for the life of the process on purpose.
    static X509_STORE* const store = [] {
        X509_STORE* created = X509_STORE_new();
        if (created && !X509_STORE_set_default_paths(created))
            ERR_clear_error();
        return created;
    }();
    if (!store || !X509_STORE_up_ref(store))
        return nullptr;
    return store;
}

} // namespace platform::detail
