#include "platform/security/AES128.h"

#include "platform/security/CryptoUse.h"

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <openssl/evp.h>
#include <vector>

namespace platform {

namespace {

using Block = std::array<uint8_t, 16>;

Block padded16(std::span<const uint8_t> bytes) {
    Block block{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
    return block;
}

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

// Runs the whole input through the cipher in int-sized slices; nullopt on any library failure,
// which for decryption includes bad padding.
std::optional<std::vector<uint8_t>> run(bool encrypt, std::span<const uint8_t> input,
                                        std::span<const uint8_t> key, std::span<const uint8_t> iv) {
    detail::CryptoUse use;
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context)
        return std::nullopt;
    Block keyBlock = padded16(key);
    Block ivBlock = padded16(iv);
    if (!EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, keyBlock.data(), ivBlock.data(),
                           encrypt ? 1 : 0))
        return std::nullopt;
    std::vector<uint8_t> output(input.size() + kAESBlockSize);
    size_t produced = 0;
    constexpr size_t kSlice = INT_MAX / 2;
    for (size_t offset = 0; offset < input.size(); offset += kSlice) {
        int length = static_cast<int>(std::min(kSlice, input.size() - offset));
        int written = 0;
        if (!EVP_CipherUpdate(context.get(), output.data() + produced, &written, input.data() + offset,
                              length))
            return std::nullopt;
        produced += static_cast<size_t>(written);
    }
    int written = 0;
    if (!EVP_CipherFinal_ex(context.get(), output.data() + produced, &written))
        return std::nullopt;
    produced += static_cast<size_t>(written);
    output.resize(produced);
    return output;
}

} // namespace

std::optional<Data> aes128CBCEncrypt(std::span<const uint8_t> plain, std::span<const uint8_t> key,
                                     std::span<const uint8_t> iv) {
    auto encrypted = run(true, plain, key, iv);
    if (!encrypted)
        return std::nullopt;
    return Data(std::move(*encrypted));
}

std::optional<Data> aes128CBCDecrypt(std::span<const uint8_t> cipher, std::span<const uint8_t> key,
                                     std::span<const uint8_t> iv) {
    if (cipher.empty() || cipher.size() % kAESBlockSize != 0)
        return std::nullopt;
    auto decrypted = run(false, cipher, key, iv);
    if (!decrypted)
        return std::nullopt;
    return Data(std::move(*decrypted));
}

} // namespace platform
