#include "PipelineFixture.h"
#include "analytics/HalvekUncaughtExceptionHandler.h"
#include "analytics/UABinaryImage.h"
#include "analytics/UAEndpoints.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/peers/AnalyticsCollector.h"

#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using analyticstest::PipelineTest;

namespace {

[[noreturn]] void throwRangeError() {
    throw platform::Exception(platform::NSRangeException, "index 3 beyond bounds");
}

void escapeUncaught() noexcept {
    throwRangeError();
}

// A process of its own, forked while this one runs no other thread (a lock another thread held at
// the fork would never be released in the child).
int statusOfChild(const std::function<void()>& body) {
    pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

bool killedBy(int status, int signo) {
    return WIFSIGNALED(status) && WTERMSIG(status) == signo;
}

} // namespace

// The library's own crash capture; uploads go nowhere (a collector that has stopped), so what a crashed
// launch left behind stays in the records of the next one.
class CrashTest : public PipelineTest {
protected:
    CrashTest()
        : PipelineTest(false) {}

    void SetUp() override {
        PipelineTest::SetUp();
        liveapp::test::AnalyticsCollector gone;
        gone.stop();
        ::setenv(UAEndpoints::kCollectorURLVariable, gone.baseURL().c_str(), 1);
        ::setenv(UAEndpoints::kCollectorFallbackURLVariable, gone.baseURL().c_str(), 1);
    }
    void TearDown() override {
        PipelineTest::TearDown();
        ::unsetenv(UAEndpoints::kCollectorURLVariable);
        ::unsetenv(UAEndpoints::kCollectorFallbackURLVariable);
    }

    // The next launch of the application, in this process: the crash texts it restored.
    std::vector<std::string> crashContextsAtNextLaunch(const std::string& version) {
        platform::UserDefaults::resetStandardForTesting();
        UsageAnalytics::setCrashReportEnabled(true);
        UsageAnalytics::setAppVersion(version);
        auto config = UAAnalyticsConfig::sharedInstance();
        config->setAppKey(analyticstest::kAppKey);
        UsageAnalytics::startWithConfigure(config);
        drain();
        std::vector<std::string> contexts;
        for (const auto& record : internal()->errors)
            contexts.push_back(std::dynamic_pointer_cast<UANError>(record)->context.value_or(""));
        return contexts;
    }

    // The crashing launch: its first envelope is made (and kept) before anything is recorded.
    void startAndRecord() {
        start();
        internal()->sendLogQueue()->waitUntilAllOperationsAreFinished();
        UsageAnalytics::event("before the crash");
        drain();
    }
};

TEST_F(CrashTest, AnUncaughtExceptionIsRecordedAtOnceAndSentByTheSameVersion) {
    int status = statusOfChild([this] {
        startAndRecord();
        escapeUncaught();
    });
    EXPECT_TRUE(killedBy(status, SIGABRT)) << status;
    EXPECT_TRUE(UsageAnalyticsUtility::isExistAtPath(UsageAnalyticsUtility::cacheFilePath()));
    auto contexts = crashContextsAtNextLaunch("1.0");
    ASSERT_EQ(contexts.size(), 1u);
    EXPECT_TRUE(contexts[0].starts_with("index 3 beyond bounds\n(null)\n((\n\t")) << contexts[0];
    EXPECT_NE(contexts[0].find("\n)\n\ndSYM UUID: "), std::string::npos) << contexts[0];
    EXPECT_NE(contexts[0].find("\nBinary Image: test_analytics\n"), std::string::npos) << contexts[0];
    EXPECT_EQ(internal()->events.size(), 1u);
    EXPECT_EQ(internal()->terminates.size(), 1u); // the crashed session, ended with the crash
}

TEST_F(CrashTest, AFatalSignalIsRecordedForTheNextLaunchOfTheSameVersion) {
    auto sessionFile = platform::Paths::temporary() / "crashed-session";
    int status = statusOfChild([this, sessionFile] {
        startAndRecord();
        platform::AtomicFile::write(sessionFile, platform::Data(std::string_view(internal()->sessionID())));
        std::raise(SIGILL);
    });
    EXPECT_TRUE(killedBy(status, SIGILL)) << status;
    auto contexts = crashContextsAtNextLaunch("1.0");
    ASSERT_EQ(contexts.size(), 1u);
    EXPECT_TRUE(contexts[0].starts_with("Application received signal SIGILL\n(null)\n((\n\t")) << contexts[0];
    EXPECT_NE(contexts[0].find("\nCPU Type: "), std::string::npos);
    // Recorded under the session it cut short, which is ended by the next launch.
    auto crashedSession = platform::AtomicFile::read(sessionFile)->toString();
    EXPECT_EQ(internal()->errors[0]->session_id, crashedSession);
    ASSERT_EQ(internal()->terminates.size(), 1u);
    EXPECT_EQ(internal()->terminates[0]->session_id, crashedSession);
    EXPECT_NE(crashedSession, internal()->sessionID());
}

TEST_F(CrashTest, APendingCrashWrittenWithoutTimeOrSessionStillReads) {
    statusOfChild([this] { startAndRecord(); }); // an earlier launch, which ends without a crash
    auto path = UsageAnalyticsUtility::halvekDirectory() + "/1700000000000_4242.crash";
    platform::AtomicFile::write(
        path, platform::Data(std::string_view("version=1.0\n"
                                              "reason=Application received signal SIGBUS\n"
                                              "image_name=liveapp\n"
                                              "binary_uuid=00010203-0405-0607-0809-0A0B0C0D0E0F\n"
                                              "cpu_arch=x86_64\n"
                                              "frames:\n"
                                              "liveapp(main+0x10) [0x401000]\n")));
    auto contexts = crashContextsAtNextLaunch("1.0");
    ASSERT_EQ(contexts.size(), 1u);
    EXPECT_TRUE(
        contexts[0].starts_with("Application received signal SIGBUS\n(null)\n((\n\tliveapp(main+0x10) "
                                "[0x401000]\n)\n\ndSYM UUID: 00010203-0405-0607-0809-0A0B0C0D0E0F\n"))
        << contexts[0];
    EXPECT_EQ(internal()->errors[0]->session_id, internal()->sessionID()); // the only one it can know
    EXPECT_TRUE(internal()->terminates.empty());                           // and no session to end
    EXPECT_FALSE(UsageAnalyticsUtility::isExistAtPath(path));
}

TEST_F(CrashTest, ACrashOnAnotherThreadIsHandledByTheMainThread) {
    int status = statusOfChild([this] {
        startAndRecord();
        std::thread([] { escapeUncaught(); }).detach();
        liveapp::test::pumpMainLoopUntil([] { return false; }, std::chrono::seconds(60));
    });
    EXPECT_TRUE(killedBy(status, SIGABRT)) << status;
    EXPECT_EQ(crashContextsAtNextLaunch("1.0").size(), 1u);
}

TEST_F(CrashTest, WithCrashReportingTurnedOffNothingIsRecorded) {
    int status = statusOfChild([this] {
        startAndRecord();
        UsageAnalytics::setCrashReportEnabled(false);
        escapeUncaught();
    });
    EXPECT_TRUE(killedBy(status, SIGABRT)) << status;
    EXPECT_FALSE(UsageAnalyticsUtility::isExistAtPath(UsageAnalyticsUtility::cacheFilePath()));
    EXPECT_TRUE(crashContextsAtNextLaunch("1.0").empty());
}

TEST(CrashFacts, TheImageIsDescribedFromItsELFHeader) {
    const uint8_t bytes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(uadetail::uuidText(bytes), "00010203-0405-0607-0809-0A0B0C0D0E0F");
    EXPECT_EQ(uadetail::cpuArchitecture(183), "arm64");
    EXPECT_EQ(uadetail::cpuArchitecture(62), "x86_64");
    EXPECT_EQ(uadetail::cpuArchitecture(40), "arm-unknown");
    EXPECT_EQ(uadetail::cpuArchitecture(9999), "???");
    auto facts = uadetail::mainImageFacts();
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->get("image_name"), platform::Value("test_analytics"));
    EXPECT_EQ(facts->get("image_base_address").stringOr().size(), 18u);
    EXPECT_EQ(facts->get("binary_uuid").stringOr().size(), 36u);
    EXPECT_EQ(HalvekUncaughtExceptionHandler::signals().at(SIGBUS), "SIGBUS");
}
