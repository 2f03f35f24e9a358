#pragma once
// AES-128 in CBC mode with PKCS#7 padding, one shot, as the platform's common-crypto call does it with
// a 16-byte key length.
//
// Key: the first 16 bytes are used; a shorter key is padded with zero bytes to 16 (the platform's
// call reads a fixed 16 bytes from the caller's key). IV: likewise 16 bytes, zero-padded; an empty IV
// means all zeros. Callers that mean business pass exactly 16 of each.
// Encryption yields the input length rounded up to the next multiple of 16 (a whole block more when
// it already is one); it answers nullopt only when the crypto library itself fails. Decryption of input that
// is empty, not a multiple of 16, or whose padding does not check out answers nullopt, never partial or
// garbage bytes. Stateless and safe on any thread.

#include "platform/foundation/Data.h"

#include <cstdint>
#include <optional>
#include <span>

namespace platform {

inline constexpr size_t kAES128KeySize = 16;
inline constexpr size_t kAESBlockSize = 16;

std::optional<Data> aes128CBCEncrypt(std::span<const uint8_t> plain, std::span<const uint8_t> key,
                                     std::span<const uint8_t> iv);
std::optional<Data> aes128CBCDecrypt(std::span<const uint8_t> cipher, std::span<const uint8_t> key,
                                     std::span<const uint8_t> iv);

inline std::optional<Data> aes128CBCEncrypt(const Data& plain, const Data& key, const Data& iv) {
    return aes128CBCEncrypt(plain.span(), key.span(), iv.span());
}
inline std::optional<Data> aes128CBCDecrypt(const Data& cipher, const Data& key, const Data& iv) {
    return aes128CBCDecrypt(cipher.span(), key.span(), iv.span());
}

} // namespace platform
