#include "platform/foundation/AtomicFile.h"

#include "platform/foundation/Paths.h"

#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using platform::AtomicFile;
using platform::Data;
using platform::ErrorPtr;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeRaw(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

} // namespace

TEST(AtomicFileWrite, ReplacesTheWholeFileAndLeavesNoTemporary) {
    fs::path dir = platform::Paths::documents();
    fs::path file = dir / "state.bin";
    for (auto durability : {AtomicFile::Durability::Flushed, AtomicFile::Durability::CacheOnly}) {
        writeRaw(file, "an older and much longer content");
        chmod(file.c_str(), 0640);

        ASSERT_TRUE(AtomicFile::write(file, Data(std::string_view("new")), nullptr, 0600, durability));

        auto back = AtomicFile::read(file);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->toString(), "new");
        EXPECT_EQ(modeOf(file), 0640u);
        EXPECT_EQ(namesIn(dir), std::vector<std::string>{"state.bin"});
    }
}

TEST(AtomicFileWrite, NewFilesGetTheModeAskedForAndExistingFilesKeepTheirs) {
    fs::path file = platform::Paths::documents() / "private.plist";
    ASSERT_TRUE(AtomicFile::write(file, Data(std::string_view("a")), nullptr, 0600));
    EXPECT_EQ(modeOf(file), 0600u);

    chmod(file.c_str(), 0640);
    ASSERT_TRUE(AtomicFile::write(file, Data(std::string_view("b")), nullptr, 0600));
    EXPECT_EQ(modeOf(file), 0640u);
}

TEST(AtomicFileWrite, FailsIntoAMissingFolderWithAPosixError) {
    ErrorPtr error;
    EXPECT_FALSE(AtomicFile::write(platform::Paths::documents() / "absent" / "x", Data(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::NSPOSIXErrorDomain);
    EXPECT_EQ(error->code(), ENOENT);
}

TEST(AtomicFileRead, MissingFileReportsENOENTAndEmptyFileReadsEmpty) {
    ErrorPtr error;
    EXPECT_FALSE(AtomicFile::read(platform::Paths::documents() / "none", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), ENOENT);

    fs::path empty = platform::Paths::documents() / "empty";
    writeRaw(empty, "");
    auto bytes = AtomicFile::read(empty);
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(bytes->empty());
}

TEST(AtomicFileRead, ReadsBinaryBytesExactly) {
    std::string bytes;
    for (int i = 0; i < 200000; ++i)
        bytes += static_cast<char>(i * 7);
    fs::path file = platform::Paths::documents() / "blob";
    ASSERT_TRUE(AtomicFile::write(file, Data(bytes)));
    auto back = AtomicFile::read(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->view(), bytes);
}

TEST(AtomicFileTemporaries, StaleOnesOfThatFileAreRemovedAndOthersKept) {
    fs::path dir = platform::Paths::documents();
    fs::path file = dir / "prefs.plist";
    writeRaw(file, "kept");
    writeRaw(dir / (AtomicFile::temporaryPrefix(file) + "Ab12Cd"), "torn");
    writeRaw(dir / (AtomicFile::temporaryPrefix(file) + "Zz99Yy"), "torn");
    writeRaw(dir / "other.plist.tmp-Ab12Cd", "someone else's");
    writeRaw(dir / "prefs.plist.tmp-old", "not one of ours");

    EXPECT_EQ(AtomicFile::removeStaleTemporaries(file), 2u);
    EXPECT_EQ(namesIn(dir),
              (std::vector<std::string>{"other.plist.tmp-Ab12Cd", "prefs.plist", "prefs.plist.tmp-old"}));
}
