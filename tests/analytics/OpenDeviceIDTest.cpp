#include "analytics/UANOpenDeviceID.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/UIPasteboard.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

using platform::UIPasteboard;
using platform::Value;
using platform::ValueDictionary;

namespace {

// Runs `work` as another application of the device: a process of its own with its own home (so its
// own user defaults), sharing the pasteboards. Answers what `work` answered.
std::string asApplication(const std::string& name, const std::function<std::string()>& work) {
    auto home =
        platform::Paths::home().parent_path() / (platform::Paths::home().filename().string() + "-" + name);
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        platform::Paths::setHome(home);
        platform::UserDefaults::resetStandardForTesting();
        std::string answer = work();
        [[maybe_unused]] auto written = write(fds[1], answer.data(), answer.size());
        _exit(0);
    }
    close(fds[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return answer;
}

std::string valueAndCode() {
    platform::ErrorPtr error;
    auto value = UANOpenDeviceID::valueWithError(&error);
    return value + " " + std::to_string(error ? error->code() : -1) + " " +
           (error ? error->userInfo()["description"].stringOr() : "");
}

ValueDictionary slot(int number) {
    auto board = UIPasteboard::pasteboardWithName("org.OpenDeviceID.slot." + std::to_string(number), false);
    return board ? UANOpenDeviceID::_getDictFromPasteboard(board) : ValueDictionary{};
}

void putSlot(int number, const std::string& identifier) {
    auto board = UIPasteboard::pasteboardWithName("org.OpenDeviceID.slot." + std::to_string(number), true);
    board->setPersistent(true);
    UANOpenDeviceID::_setDict({{"OpenDeviceID", identifier}, {"OpenDeviceID_appUID", "other-" + identifier}},
                              board);
}

} // namespace

TEST(OpenDeviceID, FirstApplicationMakesTheIdentifierAndSecondAdoptsIt) {
    auto first = asApplication("first", valueAndCode);
    EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{40} 0 OpenDeviceID succesfully retrieved")))
        << first;
    std::string identifier = first.substr(0, 40);
    EXPECT_EQ(slot(0).get("OpenDeviceID"), Value(identifier));
    EXPECT_EQ(slot(0).get("OpenDeviceID_slot"), Value("org.OpenDeviceID.slot.0"));
    EXPECT_TRUE(slot(1).empty());

    auto second = asApplication("second", [] {
        auto answer = valueAndCode();
        auto record = platform::UserDefaults::standardUserDefaults()->dictionaryForKey("OpenDeviceID");
        return answer + "|" + (record ? record->get("OpenDeviceID_slot").stringOr() : "none") + "|" +
               UANOpenDeviceID::valueWithError(nullptr);
    });
    EXPECT_EQ(second,
              identifier + " 0 OpenDeviceID succesfully retrieved|org.OpenDeviceID.slot.1|" + identifier);
    EXPECT_EQ(slot(1).get("OpenDeviceID"), Value(identifier));
    EXPECT_NE(slot(1).get("OpenDeviceID_appUID"), slot(0).get("OpenDeviceID_appUID"));

    // Asked again in one process, the answer comes from the cache.
    auto cached = asApplication("third", [] {
        UANOpenDeviceID::value();
        return valueAndCode();
    });
    EXPECT_EQ(cached, identifier + " 0 OpenDeviceID in cache from first call");
}

TEST(OpenDeviceID, AStoredIdentifierOutvotedByTheCopiesIsKeptAndReported) {
    putSlot(0, std::string(40, 'a'));
    putSlot(1, std::string(40, 'a'));
    putSlot(2, std::string(40, 'b'));
    auto answer = asApplication("mine", [] {
        auto defaults = platform::UserDefaults::standardUserDefaults();
        defaults->setObject(Value::dictionary({{"OpenDeviceID", std::string(40, 'c')}}), "OpenDeviceID");
        return valueAndCode();
    });
    EXPECT_EQ(answer,
              std::string(40, 'c') +
                  " 2 Found a discrepancy between stored OpenDeviceID (reliable) and redundant copies; one "
                  "of the apps on the device is most likely corrupting the OpenDeviceID protocol");
    // With no record of its own, the next application adopts the majority.
    EXPECT_EQ(asApplication("next", [] { return UANOpenDeviceID::value(); }), std::string(40, 'a'));
}

TEST(OpenDeviceID, OptedOutApplicationsAnswerZeros) {
    auto answer = asApplication("private", [] {
        auto before = UANOpenDeviceID::value();
        UANOpenDeviceID::setOptOut(true);
        auto out = valueAndCode();
        UANOpenDeviceID::setOptOut(false);
        return before + "|" + out + "|" + UANOpenDeviceID::value();
    });
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        answer, match,
        std::regex("([0-9a-f]{40})\\|0{40} 1 Application with unique id [0-9A-F-]{36} is "
                   "opted-out from OpenDeviceID as of \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
                   "\\+0000\\|([0-9a-f]{40})")))
        << answer;
    EXPECT_EQ(match[1], match[2]);
}

TEST(OpenDeviceID, UnreadableSlotsCountAsFree) {
    auto board = UIPasteboard::pasteboardWithName("org.OpenDeviceID.slot.0", true);
    board->setPersistent(true);
    board->setData(platform::Data(std::string_view("not an archive")), "org.OpenDeviceID");
    EXPECT_TRUE(UANOpenDeviceID::_getDictFromPasteboard(board).empty());
    auto value = asApplication("app", [] { return UANOpenDeviceID::value(); });
    EXPECT_EQ(slot(0).get("OpenDeviceID"), Value(value));
}
