#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Paths.h"
#include "platform/security/MD5.h"
#include "tests/support/ShellCommand.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::Data;
using Utility = UsageAnalyticsUtility;

namespace {

const uint8_t kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

void write(const fs::path& path, std::string_view bytes) {
    ASSERT_TRUE(platform::AtomicFile::write(path, Data(bytes)));
}

std::string hex(const Data& data) {
    return platform::hexString(data.span());
}

std::string fileNames(const std::vector<std::string>& paths) {
    std::string names;
    for (const auto& path : paths)
        names += (names.empty() ? "" : " ") + fs::path(path).filename().string();
    return names;
}

} // namespace

TEST(AnalyticsFiles, EveryFileHasItsPlaceInTheCachesAndSavingNeverReplacesOne) {
    auto caches = platform::Paths::caches();
    EXPECT_EQ(Utility::halvekDirectory(), (caches / ".halvek").string());
    EXPECT_TRUE(fs::is_directory(caches / ".halvek"));
    EXPECT_EQ(Utility::sqliteDBFilePath(), (caches / ".halvek/cache.db").string());
    EXPECT_EQ(Utility::agManifestPath(), (caches / ".halvek/agmanifest.plist").string());
    EXPECT_EQ(Utility::exchangeIdentityPath(), (caches / ".halvek/exchangeIdentity.json").string());
    EXPECT_EQ(Utility::generateEnvelopeFileNameWithTS("1700000000123"),
              (caches / ".halvek/1700000000123_envelope.log").string());
    EXPECT_EQ(Utility::cacheFilePath(), (caches / ".com.marvane.live_halvekCache.plist").string());
    EXPECT_EQ(Utility::bgCacheFilePath(), (caches / ".com.marvane.live_halvekbgCache.plist").string());
    EXPECT_EQ(Utility::envelopeFilePath(), (caches / ".com.marvane.live_halvek_envelope.log").string());

    // Saving never replaces a file.
    auto path = (fs::path(Utility::halvekDirectory()) / "kept").string();
    Utility::saveData(std::nullopt, path);
    EXPECT_FALSE(Utility::isExistAtPath(path));
    Utility::saveData(Data(std::string_view("old")), path);
    Utility::saveData(Data(std::string_view("new")), path);
    EXPECT_EQ(platform::AtomicFile::read(path)->toString(), "old");
    Utility::removeFile(path);
    Utility::removeFile(path); // a second time is no error
    EXPECT_FALSE(Utility::isExistAtPath(path));
    EXPECT_FALSE(Utility::makeAbsDir((fs::path(Utility::halvekDirectory()) / "a/b").string()));
}

TEST(AnalyticsFiles, ListingSkipsHiddenEntriesAndEnvelopesAreTheOnlyEnvelopeFiles) {
    fs::path sdk = Utility::halvekDirectory();
    for (const char* name : {"cache.db", "agmanifest.plist", "1_envelope.log", "2_envelope.log",
                             ".3_envelope.log", "4_envelope.log.tmp"})
        write(sdk / name, "x");
    auto items = Utility::itemsInAbsDir(sdk.string());
    std::sort(items.begin(), items.end());
    EXPECT_EQ(fileNames(items), "1_envelope.log 2_envelope.log 4_envelope.log.tmp agmanifest.plist cache.db");
    auto envelopes = Utility::envelopeFiles();
    std::sort(envelopes.begin(), envelopes.end());
    EXPECT_EQ(fileNames(envelopes), "1_envelope.log 2_envelope.log");
}

TEST(AnalyticsFiles, FilesOfOneAgeAreOrderedByTheirMillisecondStamp) {
    // Hard links share one inode, so all three have the very same creation date.
    fs::path sdk = Utility::halvekDirectory();
    write(sdk / "1700000000300_envelope.log", "x");
    fs::create_hard_link(sdk / "1700000000300_envelope.log", sdk / "999_envelope.log");
    fs::create_hard_link(sdk / "1700000000300_envelope.log", sdk / "1700000000100_envelope.log");
    std::vector<std::string> paths = {(sdk / "1700000000300_envelope.log").string(),
                                      (sdk / "999_envelope.log").string(),
                                      (sdk / "1700000000100_envelope.log").string()};
    Utility::sortFileWithCreatedTime(paths);
    EXPECT_EQ(fileNames(paths), "999_envelope.log 1700000000100_envelope.log 1700000000300_envelope.log");
    auto created = Utility::creationDateOfFile(paths[0]);
    ASSERT_TRUE(created);
    EXPECT_LT(std::abs(created->timeIntervalSinceNow()), 3600);
    EXPECT_FALSE(Utility::creationDateOfFile((sdk / "missing").string()));
}

TEST(AnalyticsFiles, AesUsesTheFixedVectorAndPadsToWholeBlocks) {
    EXPECT_EQ(Utility::AES128EncryptData(Data(std::string(32, 'a')), kKey)->length(), 48u);
    EXPECT_EQ(Utility::AES128EncryptData(Data(), kKey)->length(), 16u);
    EXPECT_FALSE(Utility::AES128DecryptData(Data(std::string(17, 'a')), kKey));
    Data plain(std::string_view("an envelope's entity"));
    auto sealed = Utility::AES128EncryptData(plain, kKey);
    EXPECT_EQ(Utility::AES128DecryptData(*sealed, kKey), plain);

    auto file = platform::Paths::temporary() / "plain";
    write(file, plain.view());
    int status = -1;
    auto theirs = liveapp::test::runCommand("openssl enc -aes-128-cbc -K 0102030405060708090a0b0c0d0e0f10 "
                                            "-iv 5e1c9a7730d24f68b1e0c3a9d75f2846 -in " +
                                                file.string() + " | od -An -tx1 | tr -d ' \\n'",
                                            &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(hex(*sealed), theirs);
}

TEST(AnalyticsFiles, CompressionIsAZlibStreamPythonInflates) {
    EXPECT_EQ(hex(*UANDeflated::deflatedData(Data())), "789c030000000001");
    std::string payload;
    for (int i = 0; i < 2000; ++i)
        payload += "{\"event\":" + std::to_string(i * 37 % 101) + "},";
    auto file = platform::Paths::temporary() / "deflated";
    auto deflated = UANDeflated::deflatedData(Data(std::string_view(payload)));
    ASSERT_TRUE(deflated);
    EXPECT_LT(deflated->length(), payload.size() / 4);
    write(file, deflated->view());
    if (!fs::exists("/usr/bin/python3"))
        GTEST_SKIP() << "no /usr/bin/python3";
    int status = -1;
    auto inflated = liveapp::test::runCommand(
        "/usr/bin/python3 -c \"import sys,zlib; sys.stdout.buffer.write(zlib.decompress(open('" +
            file.string() + "','rb').read()))\"",
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(inflated, payload);

    auto prefixed = UANDeflated::deflatedDataPrefixedWith(Data(std::string_view("PK")), 9,
                                                          Data(std::string_view("aaaa")));
    EXPECT_EQ(prefixed->view().substr(0, 4), std::string_view("PKx\xda", 4));
}
