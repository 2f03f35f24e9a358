#include "analytics/UsageAnalyticsUtility.h"

#include "analytics/UANUtil.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/security/AES128.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fmt/format.h>
#include <mutex>
#include <sys/stat.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kEnvelopeSuffix = "_envelope.log";
constexpr uint8_t kInitialisationVector[16] = {0x5e, 0x1c, 0x9a, 0x77, 0x30, 0xd2, 0x4f, 0x68,
                                               0xb1, 0xe0, 0xc3, 0xa9, 0xd7, 0x5f, 0x28, 0x46};

std::string inCaches(const std::string& name) {
    return (fs::path(UsageAnalyticsUtility::cacheDirectory()) / name).string();
}

std::string inSdkDirectory(const std::string& name) {
    return (fs::path(UsageAnalyticsUtility::halvekDirectory()) / name).string();
}

std::optional<platform::Data> aes(bool encrypt, const platform::Data& data, const uint8_t* key) {
    if (!key)
        return std::nullopt;
    std::span<const uint8_t> keyBytes(key, platform::kAES128KeySize);
    std::span<const uint8_t> iv(kInitialisationVector, sizeof kInitialisationVector);
    return encrypt ? platform::aes128CBCEncrypt(data.span(), keyBytes, iv)
                   : platform::aes128CBCDecrypt(data.span(), keyBytes, iv);
}

// The millisecond stamp an envelope file is named by; names without one sort after those with one.
uint64_t stampOf(const std::string& path) {
    auto name = fs::path(path).filename().string();
    uint64_t stamp = 0;
    size_t digits = 0;
    for (; digits < name.size() && digits < 19 && std::isdigit(static_cast<unsigned char>(name[digits]));
         ++digits)
        stamp = stamp * 10 + static_cast<uint64_t>(name[digits] - '0');
    return digits ? stamp : UINT64_MAX;
}

} // namespace

bool UsageAnalyticsUtility::isExistAtPath(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

bool UsageAnalyticsUtility::makeAbsDir(const std::string& path) {
    std::error_code error;
    return fs::create_directory(path, error) && !error;
}

void UsageAnalyticsUtility::saveData(const std::optional<platform::Data>& data, const std::string& path) {
    if (data && !isExistAtPath(path))
        platform::AtomicFile::write(path, *data);
}

void UsageAnalyticsUtility::removeFile(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::string UsageAnalyticsUtility::cacheDirectory() {
    return platform::Paths::caches().string();
}

std::string UsageAnalyticsUtility::halvekDirectory() {
    static std::mutex mutex;
    static std::string base, directory;
    std::lock_guard lock(mutex);
    std::string caches = cacheDirectory();
    if (caches != base) {
        base = caches;
        directory = (fs::path(caches) / ".halvek").string();
        if (!isExistAtPath(directory))
            makeAbsDir(directory);
    }
    return directory;
}

std::string UsageAnalyticsUtility::sqliteDBFilePath() {
    return inSdkDirectory("cache.db");
}

std::string UsageAnalyticsUtility::agManifestPath() {
    return inSdkDirectory("agmanifest.plist");
}

std::string UsageAnalyticsUtility::exchangeIdentityPath() {
    return inSdkDirectory("exchangeIdentity.json");
}

std::string UsageAnalyticsUtility::generateEnvelopeFileNameWithTS(const std::string& timestamp) {
    return inSdkDirectory(timestamp + std::string(kEnvelopeSuffix));
}

std::string UsageAnalyticsUtility::cacheFilePath() {
    return inCaches(fmt::format(".{}_halvekCache.plist", UANUtil::appPackageNameString()));
}

std::string UsageAnalyticsUtility::bgCacheFilePath() {
    return inCaches(fmt::format(".{}_halvekbgCache.plist", UANUtil::appPackageNameString()));
}

std::string UsageAnalyticsUtility::envelopeFilePath() {
    return inCaches(fmt::format(".{}_halvek_envelope.log", UANUtil::appPackageNameString()));
}

std::vector<std::string> UsageAnalyticsUtility::itemsInAbsDir(const std::string& directory) {
    std::vector<std::string> items;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        auto name = it->path().filename().string();
        if (!name.empty() && name.front() != '.')
            items.push_back(it->path().string());
    }
    return items;
}

std::vector<std::string> UsageAnalyticsUtility::envelopeFiles() {
    auto items = itemsInAbsDir(halvekDirectory());
    std::erase_if(items, [](const std::string& path) { return !path.ends_with(kEnvelopeSuffix); });
    return items;
}

std::optional<platform::Date> UsageAnalyticsUtility::creationDateOfFile(const std::string& path) {
    struct statx info {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return std::nullopt;
    const auto& stamp = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime;
    return platform::Date(static_cast<double>(stamp.tv_sec) + stamp.tv_nsec / 1e9);
}

void UsageAnalyticsUtility::sortFileWithCreatedTime(std::vector<std::string>& paths) {
    double now = platform::Clock::timeIntervalSince1970();
    struct Entry {
        int64_t age;
        uint64_t stamp;
        std::string path;
    };
    std::vector<Entry> entries;
    for (auto& path : paths) {
        auto created = creationDateOfFile(path);
        double age = created ? now - created->timeIntervalSince1970() : 0;
        entries.push_back({static_cast<int64_t>(std::trunc(age)), stampOf(path), std::move(path)});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.age != b.age)
            return a.age > b.age;
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.path < b.path;
    });
    for (size_t i = 0; i < entries.size(); ++i)
        paths[i] = std::move(entries[i].path);
}

double UsageAnalyticsUtility::durationNowWith1970TimeInterval(double seconds) {
    return platform::Clock::timeIntervalSince1970() - seconds;
}

std::optional<platform::Data> UsageAnalyticsUtility::AES128EncryptData(const platform::Data& data,
                                                                       const uint8_t* key) {
    return aes(true, data, key);
}

std::optional<platform::Data> UsageAnalyticsUtility::AES128DecryptData(const platform::Data& data,
                                                                       const uint8_t* key) {
    return aes(false, data, key);
}

std::optional<platform::Data> UANDeflated::deflatedData(const platform::Data& data) {
    return deflatedDataPrefixedWith(std::nullopt, Z_DEFAULT_COMPRESSION, data);
}

std::optional<platform::Data>
UANDeflated::deflatedDataPrefixedWith(const std::optional<platform::Data>& prefix, int32_t level,
                                      const platform::Data& source) {
    // The bound in 64 bits: 32-bit arithmetic would wrap for sources near 4 GiB.
    uint64_t length = static_cast<uint32_t>(source.length());
    uint64_t bound = length * 1001 / 1000 + 12;
    size_t prefixLength = prefix ? prefix->length() : 0;
    std::vector<uint8_t> block;
    try {
        block.resize(prefixLength + bound);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    uLongf compressedLength = static_cast<uLongf>(bound);
    static const Bytef nothing = 0;
    const Bytef* input = source.empty() ? &nothing : source.bytes();
    if (compress2(block.data() + prefixLength, &compressedLength, input, static_cast<uLong>(length), level) !=
        Z_OK)
        return std::nullopt;
    if (prefixLength)
        std::copy(prefix->bytes(), prefix->bytes() + prefixLength, block.begin());
    block.resize(prefixLength + compressedLength);
    return platform::Data(std::move(block));
}
