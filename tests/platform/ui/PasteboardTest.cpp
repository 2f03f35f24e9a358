#include "platform/foundation/Paths.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIPasteboard.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::Data;
using platform::UIPasteboard;

namespace {

Data bytes(std::string_view text) {
    return Data(text);
}

// Runs `work` in a child process (another application of the same user) and waits for it.
void inAnotherProcess(const std::function<void()>& work) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        work();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace

TEST(Pasteboard, PersistentOnesAreSharedWithOtherProcessesAndOutliveTheirMaker) {
    inAnotherProcess([] {
        auto board = UIPasteboard::pasteboardWithName("org.example.slot.0", true);
        board->setData(bytes("before"), "org.example");
        board->setPersistent(true);
        board->setData(bytes("from the other app"), "org.example");
        // Not persistent: gone with this process.
        UIPasteboard::pasteboardWithName("org.example.private", true)->setData(bytes("x"), "t");
    });
    auto board = UIPasteboard::pasteboardWithName("org.example.slot.0", false);
    ASSERT_TRUE(board);
    EXPECT_TRUE(board->isPersistent());
    EXPECT_EQ(board->dataForPasteboardType("org.example"), bytes("from the other app"));
    EXPECT_FALSE(board->dataForPasteboardType("other.type"));
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("org.example.private", false));

    inAnotherProcess([] {
        UIPasteboard::pasteboardWithName("org.example.slot.0", false)
            ->setData(bytes("changed"), "org.example");
    });
    EXPECT_EQ(board->dataForPasteboardType("org.example"), bytes("changed"));
}

TEST(Pasteboard, ClearingPersistenceKeepsTheDataInTheProcessOnlyAndLookupsCreateOnlyWhenAsked) {
    auto board = UIPasteboard::pasteboardWithName("weird/name with spaces", true);
    board->setPersistent(true);
    board->setData(bytes("kept"), "a/type");
    auto files = std::filesystem::path(platform::Paths::shared()) / "pasteboards";
    EXPECT_TRUE(std::filesystem::is_directory(files / "weird%2Fname%20with%20spaces"));
    board->setPersistent(false);
    EXPECT_FALSE(std::filesystem::exists(files / "weird%2Fname%20with%20spaces"));
    EXPECT_EQ(board->dataForPasteboardType("a/type"), bytes("kept"));
    UIPasteboard::removePasteboardWithName("weird/name with spaces");
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("weird/name with spaces", false));
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("org.example.none", false));
    auto made = UIPasteboard::pasteboardWithName("org.example.made", true);
    ASSERT_TRUE(made);
    EXPECT_FALSE(made->isPersistent());
    EXPECT_EQ(UIPasteboard::pasteboardWithName("org.example.made", false), made);
}

TEST(Device, VendorIdentifierIsOnePerVendorAcrossProcesses) {
    auto device = platform::UIDevice::currentDevice();
    auto mine = device->identifierForVendor();
    ASSERT_TRUE(mine);
    EXPECT_EQ(device->identifierForVendor(), mine);
    inAnotherProcess([&] {
        if (platform::UIDevice::currentDevice()->identifierForVendor() != mine)
            _exit(1);
    });
    EXPECT_TRUE(std::filesystem::exists(platform::Paths::shared() / "vendors" / "com.marvane.uuid"));
}
