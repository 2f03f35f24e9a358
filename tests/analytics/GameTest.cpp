#include "PipelineFixture.h"
#include "analytics/UsageAnalyticsGameAnalytics.h"

using analyticstest::PipelineTest;
using Game = UsageAnalyticsGameAnalytics;
using platform::Value;

class GameTest : public PipelineTest {
protected:
    // The attributes of the game events recorded so far, in order.
    std::vector<platform::ValueDictionary> gameEvents() {
        drain();
        std::vector<platform::ValueDictionary> found;
        for (const auto& record : internal()->ekv) {
            auto event = std::dynamic_pointer_cast<UANEkv>(record);
            if (event && event->type == "gkv")
                found.push_back(event->values);
        }
        return found;
    }
};

TEST_F(GameTest, OutsideTheGameScenarioOnlyTheBookkeepingRunsAndALevelsClockStopsWhileInactive) {
    start();
    Game::startLevel("0");
    EXPECT_TRUE(seams.printed(
        "UALOG: (ERROR) UsageAnalyticsGameAnalytics class is game API, can't be use in no-game scenario."));
    seams.clearLines();
    Game::pauseLevel("0");
    EXPECT_TRUE(seams.lines().empty());
    EXPECT_TRUE(gameEvents().empty());

    app()->setScenarioType(1);
    Game::setUserLevelId(7);
    Game::startLevel("1");
    auto application = platform::UIApplication::sharedApplication();
    application->simulateLaunch();
    advance(10);
    application->simulateResignActive();
    advance(100);
    application->simulateBecomeActive();
    advance(5);
    Game::finishLevel(std::nullopt);
    auto events = gameEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].get("status"), Value("0"));
    EXPECT_EQ(events[0].get("user_level"), Value("7"));
    EXPECT_EQ(events[1].get("level"), Value("1"));
    EXPECT_EQ(events[1].get("status"), Value("1"));
    EXPECT_NEAR(events[1].get("duration").doubleOr(0), 15000, 1);
    EXPECT_EQ(Game::sharedInstance()->levelNamed("1"), nullptr);
}

TEST_F(GameTest, PurchasesAndCurrencyKeepTwoDecimals) {
    start();
    app()->setScenarioType(1);
    Game::startLevel("boss");
    Game::pay(0.004, 1, 5);
    Game::buy(" ", 1, 1);
    Game::pay(0.01, 2, 5);
    Game::exchange("order-1", 6, "ABCD", 60, 3);
    Game::use("sword", 2, 1.5);
    auto events = gameEvents();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].get("cash"), Value(1));
    EXPECT_EQ(events[1].get("coin"), Value(500));
    EXPECT_EQ(events[1].get("level"), Value("boss"));
    EXPECT_EQ(events[2].get("orderid"), Value("order-1"));
    EXPECT_FALSE(events[2].contains("curtype"));
    EXPECT_TRUE(seams.printed("UALOG: ERROR, currencyType's max length is 3 byte."));
    EXPECT_EQ(events[3].get("coin"), Value(300.0));
    EXPECT_EQ(events[3].get("item"), Value("sword"));
}
