#include "analytics/UABinaryImage.h"

#include "analytics/UANLog.h"

#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <filesystem>
#include <link.h>

namespace uadetail {

namespace {

constexpr size_t kUUIDLength = 16;

const ElfW(Phdr) * segmentAtFileStart(const dl_phdr_info& info) {
    for (int i = 0; i < info.dlpi_phnum; ++i) {
        const auto& segment = info.dlpi_phdr[i];
        if (segment.p_type == PT_LOAD && segment.p_offset == 0)
            return &segment;
    }
    return nullptr;
}

std::optional<uint64_t> executableSegmentAddress(const dl_phdr_info& info) {
    for (int i = 0; i < info.dlpi_phnum; ++i) {
        const auto& segment = info.dlpi_phdr[i];
        if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X))
            return segment.p_vaddr;
    }
    return std::nullopt;
}

// The GNU build id among the image's notes, when it has one of at least 16 bytes.
std::optional<std::string> buildIdText(const dl_phdr_info& info) {
    for (int i = 0; i < info.dlpi_phnum; ++i) {
        const auto& segment = info.dlpi_phdr[i];
        if (segment.p_type != PT_NOTE)
            continue;
        auto* at = reinterpret_cast<const uint8_t*>(info.dlpi_addr + segment.p_vaddr);
        auto* end = at + segment.p_memsz;
        while (at + sizeof(ElfW(Nhdr)) <= end) {
            ElfW(Nhdr) note;
            std::memcpy(&note, at, sizeof note);
            const uint8_t* name = at + sizeof note;
            const uint8_t* desc = name + ((note.n_namesz + 3) & ~3u);
            const uint8_t* next = desc + ((note.n_descsz + 3) & ~3u);
            if (next > end || next <= at)
                break;
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0 &&
                note.n_descsz >= kUUIDLength)
                return uuidText(desc);
            at = next;
        }
    }
    return std::nullopt;
}

std::optional<platform::ValueDictionary> factsOf(const dl_phdr_info& info, const uint8_t* header) {
    if (std::memcmp(header, ELFMAG, SELFMAG) != 0) {
        uint32_t magic = 0;
        std::memcpy(&magic, header, sizeof magic);
        UANLog("Invalid ELF header magic value: {:x}", magic);
        return std::nullopt;
    }
    std::error_code ignored;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ignored);
    platform::ValueDictionary facts;
    facts.set("image_name", executable.filename().string());
    facts.set("image_base_address", fmt::format("0x{:016x}", reinterpret_cast<uintptr_t>(header)));
    if (auto address = executableSegmentAddress(info))
        facts.set("slide_address", header[EI_CLASS] == ELFCLASS64 ? fmt::format("0x{:016x}", *address)
                                                                  : fmt::format("0x{:08x}", *address));
    if (auto uuid = buildIdText(info))
        facts.set("binary_uuid", *uuid);
    uint16_t machine = 0;
    std::memcpy(&machine, header + offsetof(ElfW(Ehdr), e_machine), sizeof machine);
    facts.set("cpu_arch", cpuArchitecture(machine));
    return facts;
}

int visitImage(dl_phdr_info* info, size_t, void* data) {
    auto* first = segmentAtFileStart(*info);
    if (!first)
        return 0;
    auto* header = reinterpret_cast<const uint8_t*>(info->dlpi_addr + first->p_vaddr);
    Dl_info symbolInfo;
    if (!dladdr(header, &symbolInfo)) {
        UANLog("dladdr({}, ...) failed", static_cast<const void*>(header));
        return 0;
    }
    // The loader names every image but the program itself.
    if (info->dlpi_name && info->dlpi_name[0] != '\0')
        return 0;
    *static_cast<std::optional<platform::ValueDictionary>*>(data) = factsOf(*info, header);
    return 1;
}

} // namespace

std::optional<platform::ValueDictionary> mainImageFacts() {
    std::optional<platform::ValueDictionary> facts;
    dl_iterate_phdr(visitImage, &facts);
    return facts;
}

std::string uuidText(const uint8_t* bytes) {
    std::string text;
    for (size_t i = 0; i < kUUIDLength; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += fmt::format("{:02X}", bytes[i]);
    }
    return text;
}

std::string cpuArchitecture(uint16_t machine) {
    switch (machine) {
    case EM_AARCH64:
        return "arm64";
    case EM_ARM:
        // The ELF header does not tell v6, v7 and v7s apart.
        return "arm-unknown";
    case EM_386:
        return "i386";
    case EM_X86_64:
        return "x86_64";
    case EM_PPC:
    case EM_PPC64:
        return "powerpc";
    default:
        return "???";
    }
}

} // namespace uadetail
