#include "platform/foundation/AtomicFile.h"

#include "platform/foundation/Paths.h"

#include <atomic>
#include <cerrno>
#include <fmt/format.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

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

TEST(AtomicFileWrite, ReplacesTheWholeFileKeepingItsModeAndLeavesNoTemporary) {
    fs::path dir = platform::Paths::documents();
    fs::path file = dir / "state.bin";
    ASSERT_TRUE(AtomicFile::write(file, Data(std::string_view("a")), nullptr, 0600));
    EXPECT_EQ(modeOf(file), 0600u); // a new file gets the mode asked for
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

TEST(AtomicFile, MissingFilesAndFoldersReportENOENTAndAnEmptyFileReadsEmpty) {
    ErrorPtr error;
    EXPECT_FALSE(AtomicFile::write(platform::Paths::documents() / "absent" / "x", Data(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::NSPOSIXErrorDomain);
    EXPECT_EQ(error->code(), ENOENT);
    error.reset();
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

// Leftovers of interrupted writes of the file go, when asked for or before the file's first write in
// the process; other files' temporaries and names that only look alike stay.
TEST(AtomicFileTemporaries, StaleOnesOfThatFileAreRemovedAndOthersKept) {
    for (bool byFirstWrite : {false, true}) {
        SCOPED_TRACE(byFirstWrite ? "the first write" : "asked for");
        fs::path dir = platform::Paths::documents() / (byFirstWrite ? "written" : "asked");
        fs::create_directory(dir);
        fs::path file = dir / "prefs.plist";
        writeRaw(file, "kept");
        writeRaw(dir / "prefs.plist.tmp-Ab12Cd", "torn");
        writeRaw(dir / "prefs.plist.tmp-Zz99Yy", "torn");
        writeRaw(dir / "other.plist.tmp-Ab12Cd", "someone else's");
        writeRaw(dir / "prefs.plist.tmp-old", "not one of ours");

        if (byFirstWrite)
            EXPECT_TRUE(AtomicFile::write(file, Data(std::string_view("new"))));
        else
            EXPECT_EQ(AtomicFile::removeStaleTemporaries(file), 2u);
        EXPECT_EQ(namesIn(dir),
                  (std::vector<std::string>{"other.plist.tmp-Ab12Cd", "prefs.plist", "prefs.plist.tmp-old"}));
    }
}

// Once a file has been written in this process, a temporary beside it may be another process's write
// under way.
TEST(AtomicFileTemporaries, LaterWritesLeaveTheFilesTemporariesAlone) {
    fs::path dir = platform::Paths::documents();
    fs::path file = dir / "room.persistent";
    ASSERT_TRUE(AtomicFile::write(file, Data(std::string_view("first"))));
    writeRaw(dir / "room.persistent.tmp-Qw12Er", "another writer's");
    ASSERT_TRUE(AtomicFile::write(file, Data(std::string_view("second"))));
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"room.persistent", "room.persistent.tmp-Qw12Er"}));
}

// Writers race each other to the first write of fresh files while another thread clears leftovers
// without pause: no temporary of a write under way is ever taken for a leftover.
TEST(AtomicFileTemporaries, ClearingNeverTakesTheTemporaryOfAWriteUnderWay) {
    constexpr int kFiles = 20;
    constexpr int kWriters = 6;
    constexpr int kWritesEach = 10;
    fs::path dir = platform::Paths::documents();
    std::atomic<bool> writing{true};
    std::atomic<int> failures{0};
    std::thread sweeper([&] {
        while (writing) {
            for (int f = 0; f < kFiles; ++f)
                AtomicFile::removeStaleTemporaries(dir / fmt::format("shared-{}", f));
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int f = 0; f < kFiles; ++f) {
                for (int i = 0; i < kWritesEach; ++i) {
                    ErrorPtr error;
                    if (!AtomicFile::write(dir / fmt::format("shared-{}", f), Data(fmt::format("{}", w)),
                                           &error))
                        ++failures;
                }
            }
        });
    }
    for (auto& writer : writers)
        writer.join();
    writing = false;
    sweeper.join();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(namesIn(dir).size(), size_t(kFiles)) << "no temporary left behind";
}
