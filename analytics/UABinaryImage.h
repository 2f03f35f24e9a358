#pragma once
// The facts about the running program's image that crash records carry, read from its ELF image in
// memory: "image_name" (the executable's file name), "image_base_address" (where its ELF header is
// loaded, "0x%016x"), "slide_address" (the link-time address of its executable segment, 16 or 8
// digits by ELF class), "binary_uuid" (the first 16 bytes of its GNU build id in the 8-4-4-4-12 form;
// absent without one) and "cpu_arch" (from the machine field). Nothing when the image cannot be
// found or does not read as ELF (a conditional log line says which). Any thread.

#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>

namespace uadetail {

std::optional<platform::ValueDictionary> mainImageFacts();

// 32 uppercase hexadecimal digits of 16 bytes with "-" after the 4th, 6th, 8th and 10th byte.
std::string uuidText(const uint8_t* bytes);
// "arm64", "arm-unknown", "i386", "x86_64", "powerpc" or "???" for an ELF machine number.
std::string cpuArchitecture(uint16_t machine);

} // namespace uadetail
