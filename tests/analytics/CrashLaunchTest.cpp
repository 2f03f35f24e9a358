// Crashes of a real launch (a child process, tests/analytics/launch) and what the next launch sends
// the collector about them, read with the project's own record decoder and Python's zlib.
#include "LibraryFixture.h"
#include "PythonRecords.h"
#include "analytics/HalvekUncaughtExceptionHandler.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/ShellCommand.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using analyticstest::LibraryTest;
using analyticstest::PythonRecords;
using platform::Value;

namespace {

struct CrashedLaunch {
    int status{-1};
    std::string sessionID;
    double time{0};  // seconds since 1970, just before the crash
    double ended{0}; // when the launch had died, by the same clock
};

bool readFacts(const std::string& path, CrashedLaunch& crashed) {
    std::ifstream in(path);
    return static_cast<bool>(in >> crashed.sessionID >> crashed.time);
}

// The launch in `mode`; `killWith`, when given, is sent to it once it has written its facts.
CrashedLaunch crashedLaunch(const std::string& mode, std::optional<int> killWith = std::nullopt) {
    std::string program = LIVEAPP_CRASHING_LAUNCH;
    std::string modeArgument = mode;
    std::string facts = (platform::Paths::temporary() / ("crashed-" + mode + ".txt")).string();
    std::filesystem::remove(facts);
    char* argv[] = {program.data(), modeArgument.data(), facts.data(), nullptr};
    CrashedLaunch crashed;
    pid_t child = 0;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return crashed;
    if (killWith) {
        while (!readFacts(facts, crashed) && ::waitpid(child, &crashed.status, WNOHANG) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(child, *killWith);
    }
    ::waitpid(child, &crashed.status, 0);
    crashed.ended =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    readFacts(facts, crashed);
    return crashed;
}

// An upload's payload: the envelope through binary_records.py, its entity (field 7) inflated by
// Python's zlib, then JSON.
Value payloadThroughPython(const std::string& body) {
    auto fields = PythonRecords::decode(platform::Data(std::string_view(body)))["fields"];
    std::string entity;
    for (size_t i = 0; i < fields.count(); ++i) {
        if (fields[i]["id"] == Value(7))
            entity = fields[i]["value"]["hex"].stringOr("");
    }
    auto in = platform::Paths::temporary() / "entity.hex";
    platform::AtomicFile::write(in, platform::Data(std::string_view(entity)));
    int status = -1;
    auto json = liveapp::test::runCommand(
        "/usr/bin/python3 -c 'import sys, zlib; "
        "sys.stdout.buffer.write(zlib.decompress(bytes.fromhex(sys.stdin.read())))' < " +
            in.string(),
        &status);
    EXPECT_EQ(status, 0);
    return platform::JSONSerialization::JSONObjectWithData(platform::Data(std::string_view(json)));
}

std::vector<Value> all(const std::vector<Value>& payloads, const char* kind) {
    std::vector<Value> items;
    for (const auto& payload : payloads) {
        const auto& list = payload["body"][kind];
        for (size_t i = 0; i < list.count(); ++i)
            items.push_back(list[i]);
    }
    return items;
}

struct Crash {
    const char* mode;
    int signo; // the process dies by
    const char* reason;
    bool keepsEvents; // the records made before the crash are sent
    std::optional<int> killWith{};
};

void PrintTo(const Crash& crash, std::ostream* out) {
    *out << crash.mode;
}

double seconds(const Value& milliseconds) {
    return static_cast<double>(milliseconds.int64Or(0)) / 1000;
}

} // namespace

class CrashLaunchTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (!PythonRecords::available())
            GTEST_SKIP() << "no /usr/bin/python3";
    }

    // The crashed launch, then the next one in this process: what the next one uploaded.
    std::vector<Value> payloadsAfter(const CrashedLaunch& crashed) {
        EXPECT_FALSE(crashed.sessionID.empty()) << "the launch did not get as far as its crash";
        size_t before = primary.uploads().size();
        platform::UserDefaults::resetStandardForTesting();
        start();
        finishUploads();
        std::vector<Value> payloads;
        auto uploads = primary.uploads();
        for (size_t i = before; i < uploads.size(); ++i)
            payloads.push_back(payloadThroughPython(uploads[i].request.body));
        return payloads;
    }

    // One crash record of the crash's time and reason, and the record of the session it cut short.
    void expectCrashAndItsSession(const std::vector<Value>& payloads, const CrashedLaunch& crashed,
                                  const std::string& reason) {
        auto errors = all(payloads, "error");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0]["context"].stringOr("").starts_with(reason + "\n"))
            << errors[0]["context"].stringOr("");
        EXPECT_NE(errors[0]["context"].stringOr("").find("\ndSYM UUID: "), std::string::npos);
        EXPECT_LT(std::fabs(seconds(errors[0]["ts"]) - crashed.time), 1.0);
        size_t ended = 0;
        for (const auto& session : all(payloads, "sessions")) {
            if (session["id"] != Value(crashed.sessionID))
                continue;
            ++ended;
            EXPECT_LT(std::fabs(seconds(session["end_time"]) - crashed.time), 1.0);
        }
        EXPECT_EQ(ended, 1u) << "the cut-short session " << crashed.sessionID;
    }

    CrashedLaunch expectRecorded(const Crash& crash) {
        auto crashed = crashedLaunch(crash.mode, crash.killWith);
        EXPECT_TRUE(WIFSIGNALED(crashed.status) && WTERMSIG(crashed.status) == crash.signo) << crashed.status;
        auto payloads = payloadsAfter(crashed);
        expectCrashAndItsSession(payloads, crashed, crash.reason);
        EXPECT_EQ(eventsOfSession(payloads, crashed.sessionID), crash.keepsEvents ? 10u : 0u);
        return crashed;
    }

    size_t eventsOfSession(const std::vector<Value>& payloads, const std::string& sessionID) {
        size_t count = 0;
        for (const auto& group : all(payloads, "ekv"))
            count += group[sessionID].count();
        return count;
    }
};

TEST_F(CrashLaunchTest, AFaultOnAnotherThreadIsRecordedWithItsSessionAndItsEvents) {
    expectRecorded({"worker-segv", SIGSEGV, "Application received signal SIGSEGV", true});
}

// Each launch in a test of its own: the next launch is started once per process.
class MainThreadCrash : public CrashLaunchTest, public testing::WithParamInterface<Crash> {};

TEST_P(MainThreadCrash, IsRecordedWithItsSessionAndItsEvents) {
    expectRecorded(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    CrashLaunchTest, MainThreadCrash,
    testing::Values(Crash{"main-segv", SIGSEGV, "Application received signal SIGSEGV", true},
                    Crash{"main-queue-segv", SIGSEGV, "Application received signal SIGSEGV", true},
                    // Sent to the process, the signal lands on the main thread.
                    Crash{"wait", SIGSEGV, "Application received signal SIGSEGV", true, SIGSEGV}),
    [](const testing::TestParamInfo<Crash>& info) {
        std::string name = info.param.killWith ? "killed" : info.param.mode;
        std::erase(name, '-');
        return name;
    });

// The main thread stopped inside the records' lock: the records cannot be saved whole, so the process
// dies at the end of the wait and the next launch still has the crash and its session.
TEST_F(CrashLaunchTest, AFaultWhileTheRecordsAreLockedStillEndsTheProcessAndIsRecorded) {
    auto crashed =
        expectRecorded({"main-segv-locked", SIGSEGV, "Application received signal SIGSEGV", false});
    const double limit = std::chrono::duration<double>(HalvekUncaughtExceptionHandler::kRecorderWait).count();
    EXPECT_LT(crashed.ended - crashed.time, limit + 1);
}

TEST_F(CrashLaunchTest, AnExceptionInAMainQueueBlockIsRecordedWithItsReasonSessionAndEvents) {
    expectRecorded({"main-queue-exception", SIGABRT, "index 3 beyond bounds", true});
}
