#include "platform/foundation/DateFormatter.h"

#include "platform/foundation/Clock.h"
#include "tests/support/ScopedEnvironment.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <unistd.h>

using liveapp::test::ScopedEnvironment;
using platform::Date;
using platform::DateFormatter;
using platform::TimeZone;
using platform::TimeZonePtr;

namespace {

constexpr double exportInstant = 1796548941; // 2026-12-06 09:22:21 UTC

TimeZonePtr zone(const char* name) {
    auto z = TimeZone::timeZoneWithName(name);
    EXPECT_TRUE(z) << name;
    return z;
}

} // namespace

TEST(DateFormatting, WritesTheExportFormatWithBasicOffset) {
    DateFormatter f("yyyy-MM-dd'T'HH:mm:ssZZZ", zone("Asia/Shanghai"));
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "2026-12-06T17:22:21+0800");
    f.setDateFormat("yyyy-MM-dd'T'HH:mm:ssZZZZZ");
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "2026-12-06T17:22:21+08:00");
    f.setTimeZone(TimeZone::GMT());
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "2026-12-06T09:22:21Z");
    f.setDateFormat("yyyy-MM-dd HH:mm:ss");
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "2026-12-06 09:22:21");
    f.setDateFormat("HH:mm:ss");
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "09:22:21");
}

TEST(DateFormatting, ReadsTheColonImportTwinAndTheExportFormat) {
    DateFormatter importer("yyyy-MM-dd'T'HH:mm:ssZZZZZ", TimeZone::GMT());
    EXPECT_EQ(importer.dateFromString("2026-12-06T17:22:21+08:00"), Date(exportInstant));
    EXPECT_EQ(importer.dateFromString("2026-12-06T09:22:21Z"), Date(exportInstant));
    EXPECT_EQ(importer.dateFromString("2026-12-06T04:22:21-05:00"), Date(exportInstant));
    DateFormatter exporter("yyyy-MM-dd'T'HH:mm:ssZZZ", zone("America/New_York"));
    EXPECT_EQ(exporter.dateFromString("2026-12-06T17:22:21+0800"), Date(exportInstant));
    // The text's own offset wins over the formatter's zone.
    EXPECT_EQ(exporter.dateFromString("2026-12-06T17:22:21+08:00"), Date(exportInstant));
}

TEST(DateFormatting, ReadsPlainDatesInTheFormattersZone) {
    DateFormatter f("yyyy-MM-dd HH:mm:ss", zone("Asia/Shanghai"));
    EXPECT_EQ(f.dateFromString("2026-12-06 17:22:21"), Date(exportInstant));
    DateFormatter day("yyyy-MM-dd", zone("Asia/Shanghai"));
    EXPECT_EQ(day.dateFromString("2026-12-06"), Date(exportInstant - (17 * 3600 + 22 * 60 + 21)));
    EXPECT_EQ(day.stringFromDate(Date(exportInstant)), "2026-12-06");
    // Fields the pattern lacks default to 2000-01-01.
    DateFormatter time("HH:mm:ss", TimeZone::GMT());
    EXPECT_EQ(time.dateFromString("01:02:03"), Date(946684800 + 3723));
}

TEST(DateFormatting, HalfHourAndQuarterHourZones) {
    DateFormatter f("yyyy-MM-dd HH:mm ZZZ|ZZZZZ|ZZZZ|xxx|X", zone("Asia/Kolkata"));
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "2026-12-06 14:52 +0530|+05:30|GMT+05:30|+05:30|+0530");
    f.setTimeZone(zone("Asia/Kathmandu"));
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "2026-12-06 15:07 +0545|+05:45|GMT+05:45|+05:45|+0545");
    f.setTimeZone(zone("America/St_Johns")); // -03:30 in winter
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "2026-12-06 05:52 -0330|-03:30|GMT-03:30|-03:30|-0330");
    DateFormatter reader("yyyy-MM-dd HH:mm", zone("Australia/Adelaide")); // +10:30 in its summer
    EXPECT_EQ(reader.dateFromString("2026-12-06 19:52"), Date(exportInstant - 21));
}

TEST(DateFormatting, RoundTripsInManyZonesAndAgreesWithTheCLibrary) {
    const char* zones[] = {"UTC",
                           "Asia/Shanghai",
                           "Asia/Kolkata",
                           "Asia/Kathmandu",
                           "America/New_York",
                           "America/St_Johns",
                           "Australia/Adelaide",
                           "Australia/Lord_Howe",
                           "Europe/London",
                           "Pacific/Chatham",
                           "America/Sao_Paulo"};
    DateFormatter f("yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ");
    DateFormatter wall("yyyy-MM-dd HH:mm:ss");
    for (const char* name : zones) {
        auto z = zone(name);
        f.setTimeZone(z);
        wall.setTimeZone(z);
        ScopedEnvironment tz("TZ", name);
        tzset();
        // Every 9 days and 7 hours plus a little, from 1901 to 2099: both sides of every kind of transition.
        for (double t = -2170000000.0; t < 4070000000.0; t += 9 * 86400 + 7 * 3600 + 1234.5) {
            Date date(t);
            auto text = f.stringFromDate(date);
            ASSERT_EQ(f.dateFromString(text), date) << name << " " << text;

            time_t whole = static_cast<time_t>(std::floor(t));
            struct tm local;
            ASSERT_TRUE(localtime_r(&whole, &local));
            ASSERT_EQ(z->secondsFromGMTForDate(date), local.tm_gmtoff) << name << " " << text;
            char expected[64];
            strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &local);
            ASSERT_EQ(wall.stringFromDate(date), expected) << name;
        }
    }
    tzset();
}

TEST(DateFormatting, SkippedWallTimesMoveForwardAndRepeatedOnesReadAsTheFirst) {
    auto newYork = zone("America/New_York");
    DateFormatter f("yyyy-MM-dd HH:mm:ss", newYork);
    // 2026-03-08: clocks jump from 02:00 to 03:00; 02:30 does not exist and reads as 03:30 EDT.
    EXPECT_EQ(f.dateFromString("2026-03-08 02:30:00"), Date(1772955000));
    EXPECT_EQ(f.stringFromDate(Date(1772955000)), "2026-03-08 03:30:00");
    // 2026-11-01: 01:30 happens twice; the reading is the first (EDT, 05:30 UTC).
    EXPECT_EQ(f.dateFromString("2026-11-01 01:30:00"), Date(1793511000));
    EXPECT_EQ(f.stringFromDate(Date(1793512800 - 1)), "2026-11-01 01:59:59");
    EXPECT_EQ(f.stringFromDate(Date(1793512800)), "2026-11-01 01:00:00");
    EXPECT_TRUE(newYork->isDaylightSavingTimeForDate(Date(1793512800 - 1)));
    EXPECT_FALSE(newYork->isDaylightSavingTimeForDate(Date(1793512800)));
    f.setDateFormat("zzz zzzz");
    EXPECT_EQ(f.stringFromDate(Date(1793512800 - 1)), "EDT GMT-04:00");
    EXPECT_EQ(f.stringFromDate(Date(1793512800)), "EST GMT-05:00");
    f.setTimeZone(zone("Asia/Shanghai"));
    EXPECT_EQ(f.stringFromDate(Date(1793512800)), "GMT+8 GMT+08:00");
}

TEST(DateParsing, RefusesTextsThatDoNotMatchWhole) {
    DateFormatter f("yyyy-MM-dd'T'HH:mm:ssZZZ", TimeZone::GMT());
    ASSERT_TRUE(f.dateFromString("2026-12-06T17:22:21+0800"));
    for (const char* bad : {
             "",
             "2026-12-06",
             "2026-12-06T17:22:21",
             "2026-12-06T17:22:21+0800 ",
             " 2026-12-06T17:22:21+0800",
             "2026-12-06t17:22:21+0800",
             "2026/12/06T17:22:21+0800",
             "2026-13-06T17:22:21+0800",
             "2026-00-06T17:22:21+0800",
             "2026-02-29T17:22:21+0800",
             "2026-04-31T17:22:21+0800",
             "2026-12-06T24:00:00+0800",
             "2026-12-06T17:60:00+0800",
             "2026-12-06T17:22:60+0800",
             "2026-12-06T17:22:21+2500",
             "2026-12-06T17:22:21+08:0",
             "2026-12-06T17:22:21+080",
             "2026-12-06T17:22:21+0800Z",
             "-2026-12-06T17:22:21+0800",
             "2026-12-06T17:22:21\xEF\xBC\x8B"
             "0800",
             "99999999999-12-06T17:22:21+0800",
         })
        EXPECT_FALSE(f.dateFromString(bad)) << bad;
    DateFormatter day("yyyy-MM-dd", TimeZone::GMT());
    EXPECT_TRUE(day.dateFromString("2024-02-29"));
    EXPECT_FALSE(day.dateFromString("2023-02-29"));
    EXPECT_FALSE(day.dateFromString("2100-02-29"));
    EXPECT_TRUE(day.dateFromString("2000-02-29"));
    EXPECT_FALSE(day.dateFromString(std::string(100000, '9')));
}

TEST(DateParsing, AbuttingNumericFieldsTakeTheirWidth) {
    DateFormatter f("yyyyMMddHHmmss", TimeZone::GMT());
    EXPECT_EQ(f.dateFromString("20261206092221"), Date(exportInstant));
    EXPECT_FALSE(f.dateFromString("202612060922"));
    EXPECT_FALSE(f.dateFromString("2026-120609222"));
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "20261206092221");
    // With separators, numeric fields read any number of digits.
    DateFormatter loose("yyyy-MM-dd", TimeZone::GMT());
    EXPECT_EQ(loose.dateFromString("2026-1-5"), loose.dateFromString("2026-01-05"));
}

TEST(DatePatterns, NamesQuotesFractionsAndTwelveHourClock) {
    DateFormatter f("EEEE, d MMMM yyyy 'at' h:mm a 'o''clock' (EEE MMM) G", TimeZone::GMT());
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)),
              "Sunday, 6 December 2026 at 9:22 AM o'clock (Sun Dec) AD");
    EXPECT_EQ(f.dateFromString("sunday, 6 december 2026 at 9:22 PM o'clock (Sun Dec) AD"),
              Date(exportInstant - 21 + 12 * 3600));

    DateFormatter millis("HH:mm:ss.SSS|S|SSSSS", TimeZone::GMT());
    EXPECT_EQ(millis.stringFromDate(Date(1.123)), "00:00:01.123|1|12300");
    EXPECT_EQ(millis.stringFromDate(Date(0.9999)), "00:00:00.999|9|99900"); // truncated, not rounded
    EXPECT_EQ(millis.stringFromDate(Date(-0.5)), "23:59:59.500|5|50000");
    DateFormatter reader("yyyy-MM-dd HH:mm:ss.SSS", TimeZone::GMT());
    EXPECT_DOUBLE_EQ(reader.dateFromString("1970-01-01 00:00:01.250")->timeIntervalSince1970(), 1.25);

    DateFormatter twelve("yyyy-MM-dd hh:mm a", TimeZone::GMT());
    EXPECT_EQ(twelve.stringFromDate(Date(946684800)), "2000-01-01 12:00 AM");
    EXPECT_EQ(twelve.dateFromString("2000-01-01 12:30 PM"), Date(946684800 + 12 * 3600 + 1800));
    EXPECT_FALSE(twelve.dateFromString("2000-01-01 13:30 PM"));

    DateFormatter dayOfYear("yyyy-DDD", TimeZone::GMT());
    EXPECT_EQ(dayOfYear.stringFromDate(Date(exportInstant)), "2026-340");
    EXPECT_EQ(dayOfYear.dateFromString("2024-366"),
              DateFormatter("yyyy-MM-dd", TimeZone::GMT()).dateFromString("2024-12-31"));
    EXPECT_FALSE(dayOfYear.dateFromString("2026-366"));
}

TEST(DatePatterns, TwoDigitYearsLandWithinEightyYearsBeforeNow) {
    auto clock = std::make_shared<platform::ManualClock>();
    clock->setWall(platform::WallTime(std::chrono::seconds(static_cast<int64_t>(exportInstant))));
    platform::Clock::install(clock);
    DateFormatter f("yy-MM-dd", TimeZone::GMT());
    DateFormatter full("yyyy-MM-dd", TimeZone::GMT());
    EXPECT_EQ(f.dateFromString("30-01-01"), full.dateFromString("2030-01-01"));
    EXPECT_EQ(f.dateFromString("50-01-01"), full.dateFromString("1950-01-01"));
    EXPECT_EQ(f.dateFromString("2030-01-01"), full.dateFromString("2030-01-01"));
    EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "26-12-06");
    platform::Clock::install(nullptr);
}

TEST(DatePatterns, UnknownLettersAndOpenQuotesMakeThePatternInvalid) {
    for (const char* pattern : {"yyyy-qq", "yyyy 'open", "YYYY-MM-dd", "bbb"}) {
        DateFormatter f(pattern, TimeZone::GMT());
        EXPECT_EQ(f.stringFromDate(Date(exportInstant)), "") << pattern;
        EXPECT_FALSE(f.dateFromString("2026-12")) << pattern;
    }
    DateFormatter empty("", TimeZone::GMT());
    EXPECT_EQ(empty.stringFromDate(Date(exportInstant)), "");
    DateFormatter f("yyyy", TimeZone::GMT());
    EXPECT_EQ(f.stringFromDate(Date(std::nan(""))), "");
    EXPECT_EQ(f.stringFromDate(Date::distantFuture()), "4001");
    EXPECT_EQ(f.stringFromDate(Date::distantPast()), "0001");
    EXPECT_EQ(DateFormatter("y G", TimeZone::GMT()).stringFromDate(Date(-62135769600.0 - 86400)), "1 BC");
}

TEST(TimeZones, NamesAndFixedOffsets) {
    EXPECT_FALSE(TimeZone::timeZoneWithName("Mars/Olympus_Mons"));
    EXPECT_FALSE(TimeZone::timeZoneWithName("../../../etc/passwd"));
    EXPECT_FALSE(TimeZone::timeZoneWithName("/etc/localtime"));
    EXPECT_FALSE(TimeZone::timeZoneWithName("zone.tab")); // in the folder, but not a zone
    EXPECT_FALSE(TimeZone::timeZoneWithName(""));
    EXPECT_FALSE(TimeZone::timeZoneWithName("Asia"));
    auto eight = TimeZone::timeZoneWithName("GMT+8");
    ASSERT_TRUE(eight);
    EXPECT_EQ(eight->name(), "GMT+0800");
    EXPECT_EQ(eight->secondsFromGMT(), 28800);
    EXPECT_EQ(TimeZone::timeZoneWithName("UTC-05:30")->secondsFromGMTForDate(Date()), -19800);
    EXPECT_EQ(TimeZone::timeZoneForSecondsFromGMT(19800)->name(), "GMT+0530");
    EXPECT_EQ(TimeZone::timeZoneForSecondsFromGMT(0)->name(), "GMT");
    EXPECT_FALSE(TimeZone::timeZoneForSecondsFromGMT(19 * 3600));
    EXPECT_EQ(zone("Asia/Shanghai")->abbreviationForDate(Date(exportInstant)), "CST");
    EXPECT_EQ(zone("Asia/Kolkata")->name(), "Asia/Kolkata");
    EXPECT_EQ(zone("Asia/Dubai")->abbreviationForDate(Date(exportInstant)), "GMT+4"); // tzdata writes "+04"
}

TEST(TimeZones, LocalZoneFollowsTZ) {
    const std::pair<const char*, int> cases[] = {
        {"Asia/Shanghai", 8 * 3600}, {":America/New_York", -5 * 3600}, {"IST-5:30", 19800}, {"", 0}};
    for (const auto& [name, offset] : cases) {
        ScopedEnvironment tz("TZ", name);
        EXPECT_EQ(TimeZone::localTimeZone()->secondsFromGMTForDate(Date(exportInstant)), offset) << name;
    }
    {
        ScopedEnvironment tz("TZ", "Asia/Shanghai");
        EXPECT_EQ(TimeZone::localTimeZone()->name(), "Asia/Shanghai");
        EXPECT_EQ(DateFormatter("HH:mm").stringFromDate(Date(exportInstant)), "17:22");
    }
    {
        ScopedEnvironment tz("TZ", "not a zone at all");
        EXPECT_EQ(TimeZone::localTimeZone()->name(), "GMT");
    }
    ScopedEnvironment tz("TZ", nullptr);
    EXPECT_TRUE(TimeZone::localTimeZone());
}

TEST(TimeZones, POSIXRulesMatchTheDatabaseBeyondItsTables) {
    auto rule = TimeZone::timeZoneWithPOSIXRule("EST5EDT,M3.2.0,M11.1.0");
    auto southern = TimeZone::timeZoneWithPOSIXRule("ACST-9:30ACDT,M10.1.0,M4.1.0/3");
    auto julian = TimeZone::timeZoneWithPOSIXRule("<+0330>-3:30<+0430>,J79/24,J263/24");
    ASSERT_TRUE(rule && southern && julian);
    auto newYork = zone("America/New_York");
    auto adelaide = zone("Australia/Adelaide");
    for (double t = 1.9e9; t < 4.1e9; t += 86400 * 3 + 3599) {
        ASSERT_EQ(rule->secondsFromGMTForDate(Date(t)), newYork->secondsFromGMTForDate(Date(t))) << t;
        ASSERT_EQ(southern->secondsFromGMTForDate(Date(t)), adelaide->secondsFromGMTForDate(Date(t))) << t;
    }
    EXPECT_EQ(rule->abbreviationForDate(Date(1793512800)), "EST");
    // Julian days skip 29 February: J79 is 20 March in every year.
    DateFormatter f("yyyy-MM-dd HH:mm ZZZZZ", julian);
    EXPECT_EQ(
        f.stringFromDate(*DateFormatter("yyyy-MM-dd HH:mm ZZZZZ").dateFromString("2024-03-20 20:29 +00:00")),
        "2024-03-20 23:59 +03:30");
    EXPECT_EQ(
        f.stringFromDate(*DateFormatter("yyyy-MM-dd HH:mm ZZZZZ").dateFromString("2024-03-20 20:30 +00:00")),
        "2024-03-21 01:00 +04:30");
    for (const char* bad : {"", "E5", "EST", "EST5EDT,M13.1.0,M11.1.0", "EST5EDT,M3.2.0", "EST99", "<>5",
                            "EST5EDT,J0,J10", "EST5EDT,M3.2.0,M11.1.0,", "EST5EDT4x"})
        EXPECT_FALSE(TimeZone::timeZoneWithPOSIXRule(bad)) << bad;
}

TEST(TimeZones, DamagedZoneFilesAreRefused) {
    auto dir = std::filesystem::temp_directory_path() / ("tz-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto good = [] {
        std::ifstream in("/usr/share/zoneinfo/America/New_York", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    ASSERT_GT(good.size(), 100u);
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    };
    write("Copy_Whole", good);
    for (size_t cut : {size_t(0), size_t(4), size_t(43), size_t(44), size_t(100), good.size() / 2})
        write("Cut_" + std::to_string(cut), good.substr(0, cut));
    std::string hugeCounts = good;
    for (size_t i = 20; i < 44; ++i)
        hugeCounts[i] = '\xFF';
    write("Huge_Counts", hugeCounts);
    write("Not_TZif", "TZjf" + good.substr(4));

    ScopedEnvironment tzdir("TZDIR", dir.c_str());
    auto copy = TimeZone::timeZoneWithName("Copy_Whole");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->secondsFromGMTForDate(Date(1793512800)), -5 * 3600);
    for (size_t cut : {size_t(0), size_t(4), size_t(43), size_t(44), size_t(100), good.size() / 2})
        EXPECT_FALSE(TimeZone::timeZoneWithName("Cut_" + std::to_string(cut))) << cut;
    EXPECT_FALSE(TimeZone::timeZoneWithName("Huge_Counts"));
    EXPECT_FALSE(TimeZone::timeZoneWithName("Not_TZif"));
    // Random damage never crashes a reader; whatever loads still answers.
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        std::string damaged = good;
        for (int k = 0; k < 4; ++k)
            damaged[random() % damaged.size()] = static_cast<char>(random());
        write("Damaged_" + std::to_string(i), damaged);
        if (auto z = TimeZone::timeZoneWithName("Damaged_" + std::to_string(i))) {
            for (double t : {-1e10, 0.0, 1e9, 1.8e9, 5e9})
                (void)DateFormatter("yyyy-MM-dd HH:mm:ss zzz", z).stringFromDate(Date(t));
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(DateFormatterSharing, ThreadsFormatWhileTheZoneChanges) {
    DateFormatter f("yyyy-MM-dd'T'HH:mm:ssZZZZZ", zone("Asia/Shanghai"));
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([&] {
            while (!stop) {
                auto text = f.stringFromDate(Date(exportInstant));
                if (text != "2026-12-06T17:22:21+08:00" && text != "2026-12-06T09:22:21Z")
                    ++wrong;
                if (f.dateFromString(text) != Date(exportInstant))
                    ++wrong;
            }
        });
    for (int i = 0; i < 2000; ++i)
        f.setTimeZone(i % 2 ? zone("Asia/Shanghai") : TimeZone::GMT());
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(wrong, 0);
}

TEST(DateFormatterSharing, ZoneLookupsFromManyThreadsAgree) {
    std::vector<std::thread> threads;
    std::vector<TimeZonePtr> found(8);
    for (size_t i = 0; i < found.size(); ++i)
        threads.emplace_back([&found, i] {
            for (const char* name : {"Europe/Paris", "Asia/Tokyo", "America/Chicago"})
                found[i] = TimeZone::timeZoneWithName(name);
        });
    for (auto& t : threads)
        t.join();
    for (const auto& z : found) {
        ASSERT_TRUE(z);
        EXPECT_EQ(z->name(), "America/Chicago");
        EXPECT_EQ(z->secondsFromGMTForDate(Date(exportInstant)), -6 * 3600);
    }
}
