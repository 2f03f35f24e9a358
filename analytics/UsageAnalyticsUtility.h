#pragma once
// Where the library keeps its files, and small file, time and encryption helpers. Everything lives in
// the caches folder: the SDK directory ".halvek" (the database "cache.db", the key manifest
// "agmanifest.plist", the identity file "exchangeIdentity.json" and the envelope files
// "<milliseconds>_envelope.log") and, beside it, the pipeline's caches named after the bundle
// identifier. File operations report through their results or not at all.
//
// A file's creation date is its birth time where the file system keeps one, else its modification
// time. Ordering by creation puts the oldest first and breaks ties of whole seconds by the millisecond
// stamp in the name, so the envelope dropped for room is always the oldest. Stateless but for the SDK
// directory, computed once per caches folder; any thread.

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class UsageAnalyticsUtility {
public:
    static bool isExistAtPath(const std::string& path);
    // One directory; parents are not made.
    static bool makeAbsDir(const std::string& path);
    // Writes atomically, only when data is given and nothing exists at the path yet.
    static void saveData(const std::optional<platform::Data>& data, const std::string& path);
    static void removeFile(const std::string& path);

    static std::string cacheDirectory();
    static std::string halvekDirectory();
    static std::string sqliteDBFilePath();
    static std::string agManifestPath();
    static std::string exchangeIdentityPath();
    static std::string generateEnvelopeFileNameWithTS(const std::string& timestamp);
    static std::string cacheFilePath();
    static std::string bgCacheFilePath();
    static std::string envelopeFilePath();

    // Full paths of the directory's entries, hidden ones left out, in the file system's order.
    static std::vector<std::string> itemsInAbsDir(const std::string& directory);
    // The SDK directory's "_envelope.log" files.
    static std::vector<std::string> envelopeFiles();
    static void sortFileWithCreatedTime(std::vector<std::string>& paths);
    static std::optional<platform::Date> creationDateOfFile(const std::string& path);

    // Now minus the given seconds since 1970.
    static double durationNowWith1970TimeInterval(double seconds);

    // AES-128-CBC with PKCS#7 padding, the 16 key bytes given and the library's fixed initialisation
    // vector; nothing on failure (for decryption: input that is not whole blocks or bad padding).
    static std::optional<platform::Data> AES128EncryptData(const platform::Data& data, const uint8_t* key);
    static std::optional<platform::Data> AES128DecryptData(const platform::Data& data, const uint8_t* key);
};

// zlib streams of payloads (the default level unless one is given), optionally after prefix bytes.
class UANDeflated {
public:
    static std::optional<platform::Data> deflatedData(const platform::Data& data);
    // `level` as zlib takes it, -1 the default.
    static std::optional<platform::Data> deflatedDataPrefixedWith(const std::optional<platform::Data>& prefix,
                                                                  int32_t level,
                                                                  const platform::Data& source);
};
