#include "platform/foundation/NotificationCenter.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using platform::Notification;
using platform::NotificationCenter;
using platform::Object;
using platform::ObjectPtr;
using platform::Value;

namespace {

struct Watcher : Object {
    std::vector<std::string> seen;
};

struct Sender : Object {};

// An observer whose Object part is not at the start of the object, so `this` of the class and the
// Object pointer differ.
struct Elsewhere {
    virtual ~Elsewhere() = default;
    int padding[4]{};
};
struct OffsetWatcher : Elsewhere, Object {
    void stopWatching(NotificationCenter& center) { center.removeObserver(this); }
};

// Counts calls into a shared log, so that observers can be compared by order.
NotificationCenter::Block logging(std::vector<std::string>& log, std::string label) {
    return [&log, label](const Notification& note) { log.push_back(label + ":" + note.name()); };
}

} // namespace

TEST(NotificationDelivery, ObserversAreCalledInRegistrationOrderWithTheNotification) {
    NotificationCenter center;
    auto a = std::make_shared<Watcher>(), b = std::make_shared<Watcher>();
    auto sender = std::make_shared<Sender>();
    std::vector<std::string> log;
    center.addObserver(a, "Changed", nullptr, logging(log, "a"));
    auto token = center.addObserverForName({}, nullptr, logging(log, "any"));
    center.addObserver(b, "Changed", nullptr, [&](const Notification& note) {
        log.push_back("b:" + note.name());
        EXPECT_EQ(note.object(), sender);
        EXPECT_EQ(note.userInfo()["reason"], Value("test"));
    });
    center.addObserver(a, "Other", nullptr, logging(log, "a"));

    center.postNotificationName("Changed", sender, Value::dictionary({{"reason", "test"}}));
    center.postNotification(Notification("Other"));

    EXPECT_EQ(log,
              (std::vector<std::string>{"a:Changed", "any:Changed", "b:Changed", "any:Other", "a:Other"}));
}

TEST(NotificationDelivery, ObjectFilterPassesOnlyThatSender) {
    NotificationCenter center;
    auto watcher = std::make_shared<Watcher>();
    auto mine = std::make_shared<Sender>(), other = std::make_shared<Sender>();
    std::vector<std::string> log;
    center.addObserver(watcher, "Changed", mine, logging(log, "mine"));
    center.addObserver(watcher, "Changed", nullptr, logging(log, "all"));

    center.postNotificationName("Changed", other);
    center.postNotificationName("Changed", nullptr);
    center.postNotificationName("Changed", mine);

    EXPECT_EQ(log, (std::vector<std::string>{"all:Changed", "all:Changed", "mine:Changed", "all:Changed"}));
    // The registration does not keep the sender alive.
    std::weak_ptr<Sender> weakSender = mine;
    mine.reset();
    EXPECT_TRUE(weakSender.expired());
}

TEST(NotificationObservers, ADestroyedObserverIsSkippedEvenWhenAnEarlierOneInThePostDestroysIt) {
    NotificationCenter center;
    auto first = std::make_shared<Watcher>(), second = std::make_shared<Watcher>(),
         gone = std::make_shared<Watcher>();
    int calls = 0;
    center.addObserver(gone, "Changed", nullptr, [&](const Notification&) { ++calls; });
    center.addObserver(first, "Changed", nullptr, [&](const Notification&) { second.reset(); });
    center.addObserver(second, "Changed", nullptr, [&](const Notification&) { ++calls; });
    gone.reset();
    center.postNotificationName("Changed");
    EXPECT_EQ(calls, 0);
}

TEST(NotificationObservers, ObserverOutlivesItsOwnCallEvenWhenItsLastOwnerLetsGo) {
    struct Tracked : Object {
        explicit Tracked(bool& destroyed)
            : destroyed(destroyed) {}
        ~Tracked() override { destroyed = true; }
        bool& destroyed;
    };
    NotificationCenter center;
    bool destroyed = false;
    auto tracked = std::make_shared<Tracked>(destroyed);
    bool destroyedDuringCall = true;
    center.addObserver(tracked, "Changed", nullptr, [&](const Notification&) {
        tracked.reset();
        destroyedDuringCall = destroyed;
    });
    center.postNotificationName("Changed");
    EXPECT_FALSE(destroyedDuringCall);
    EXPECT_TRUE(destroyed);
}

TEST(NotificationObservers, BlockObserverLastsUntilItsTokenIsRemoved) {
    NotificationCenter center;
    int calls = 0;
    std::weak_ptr<platform::NotificationObserverToken> weakToken =
        center.addObserverForName("Changed", nullptr, [&](const Notification&) { ++calls; });
    center.postNotificationName("Changed");
    EXPECT_EQ(calls, 1);
    ASSERT_FALSE(weakToken.expired()) << "the center keeps the token until it is removed";
    center.removeObserver(weakToken.lock());
    center.postNotificationName("Changed");
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(weakToken.expired());
}

TEST(NotificationRemoval, RemovesAllOrByNameOrByNameAndObject) {
    NotificationCenter center;
    auto watcher = std::make_shared<Watcher>(), bystander = std::make_shared<Watcher>();
    auto sender = std::make_shared<Sender>();
    std::vector<std::string> log;
    center.addObserver(watcher, "A", nullptr, logging(log, "A"));
    center.addObserver(watcher, "A", sender, logging(log, "A@sender"));
    center.addObserver(watcher, "B", nullptr, logging(log, "B"));
    center.addObserver(bystander, "A", nullptr, logging(log, "bystander"));

    // A removal naming a sender leaves registrations made for every sender.
    center.removeObserver(watcher, "A", sender);
    center.postNotificationName("A", sender);
    EXPECT_EQ(log, (std::vector<std::string>{"A:A", "bystander:A"}));

    log.clear();
    center.removeObserver(watcher, "A");
    center.postNotificationName("A", sender);
    center.postNotificationName("B");
    EXPECT_EQ(log, (std::vector<std::string>{"bystander:A", "B:B"}));

    log.clear();
    center.removeObserver(watcher);
    center.postNotificationName("A");
    center.postNotificationName("B");
    EXPECT_EQ(log, (std::vector<std::string>{"bystander:A"}));
}

TEST(NotificationRemoval, ObserverIsTheSameWhetherNamedByItsClassOrAsAnObject) {
    NotificationCenter center;
    auto watcher = std::make_shared<OffsetWatcher>();
    ObjectPtr asObject = watcher;
    ASSERT_NE(static_cast<const void*>(watcher.get()), static_cast<const void*>(asObject.get()));
    int calls = 0;

    center.addObserver(watcher, "Changed", nullptr, [&](const Notification&) { ++calls; });
    center.removeObserver(asObject);
    center.postNotificationName("Changed");
    EXPECT_EQ(calls, 0);

    center.addObserver(asObject, "Changed", nullptr, [&](const Notification&) { ++calls; });
    watcher->stopWatching(center);
    center.postNotificationName("Changed");
    EXPECT_EQ(calls, 0);
}

TEST(NotificationRemoval, ObserverRemovedDuringAPostIsNotCalledLaterInIt) {
    NotificationCenter center;
    auto first = std::make_shared<Watcher>(), second = std::make_shared<Watcher>();
    std::vector<std::string> log;
    center.addObserver(first, "Changed", nullptr, [&](const Notification&) {
        log.push_back("first");
        center.removeObserver(second);
        center.removeObserver(first);
    });
    center.addObserver(second, "Changed", nullptr, logging(log, "second"));
    center.postNotificationName("Changed");
    center.postNotificationName("Changed");
    EXPECT_EQ(log, (std::vector<std::string>{"first"}));
}

TEST(NotificationRemoval, ObserverAddedDuringAPostIsFirstCalledByTheNext) {
    NotificationCenter center;
    auto watcher = std::make_shared<Watcher>(), late = std::make_shared<Watcher>();
    std::vector<std::string> log;
    bool added = false;
    center.addObserver(watcher, "Changed", nullptr, [&](const Notification&) {
        log.push_back("watcher");
        if (!added) {
            added = true;
            center.addObserver(late, "Changed", nullptr, logging(log, "late"));
        }
    });
    center.postNotificationName("Changed");
    EXPECT_EQ(log, (std::vector<std::string>{"watcher"}));
    center.postNotificationName("Changed");
    EXPECT_EQ(log, (std::vector<std::string>{"watcher", "watcher", "late:Changed"}));
}

TEST(NotificationRemoval, ReleasingARemovedBlockMayCallBackIntoTheCenter) {
    // A block owns an object whose destructor unregisters something else: releasing the block must
    // not happen while the center holds its lock.
    struct Unregisters {
        NotificationCenter& center;
        std::shared_ptr<Watcher> other;
        ~Unregisters() { center.removeObserver(other); }
    };
    NotificationCenter center;
    auto watcher = std::make_shared<Watcher>(), other = std::make_shared<Watcher>();
    int otherCalls = 0;
    center.addObserver(other, "Changed", nullptr, [&](const Notification&) { ++otherCalls; });
    auto owned = std::make_shared<Unregisters>(Unregisters{center, other});
    center.addObserver(watcher, "Changed", nullptr, [owned](const Notification&) {});
    owned.reset();

    center.removeObserver(watcher);
    center.postNotificationName("Changed");
    EXPECT_EQ(otherCalls, 0);
}

TEST(NotificationReentrancy, PostFromAnObserverIsDeliveredInFullBeforeTheOuterPostGoesOn) {
    NotificationCenter center;
    auto a = std::make_shared<Watcher>(), b = std::make_shared<Watcher>();
    std::vector<std::string> log;
    center.addObserver(a, {}, nullptr, [&](const Notification& note) {
        log.push_back("a:" + note.name());
        if (note.name() == "Outer")
            center.postNotificationName("Inner");
    });
    center.addObserver(b, {}, nullptr, logging(log, "b"));
    center.postNotificationName("Outer");
    EXPECT_EQ(log, (std::vector<std::string>{"a:Outer", "a:Inner", "b:Inner", "b:Outer"}));
}

TEST(NotificationThreads, PostsFromManyThreadsReachEveryObserverExactlyOnceEach) {
    NotificationCenter center;
    constexpr int kThreads = 4, kPosts = 500;
    auto steady = std::make_shared<Watcher>();
    std::atomic<int> steadyCalls{0};
    center.addObserver(steady, "Tick", nullptr, [&](const Notification&) { steadyCalls.fetch_add(1); });

    // Others come and go while the posts run; the steady observer must see every post regardless.
    std::atomic<bool> stop{false};
    std::atomic<int> churnCalls{0};
    std::thread churn([&] {
        while (!stop.load()) {
            auto transient = std::make_shared<Watcher>();
            center.addObserver(transient, "Tick", nullptr,
                               [&](const Notification&) { churnCalls.fetch_add(1); });
            auto token = center.addObserverForName("Tick", nullptr, [&](const Notification&) {});
            center.removeObserver(transient);
            center.removeObserver(token);
        }
    });
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&] {
            auto sender = std::make_shared<Sender>();
            for (int i = 0; i < kPosts; ++i)
                center.postNotificationName("Tick", sender, Value(i));
        });
    }
    for (auto& poster : posters)
        poster.join();
    stop = true;
    churn.join();
    EXPECT_EQ(steadyCalls.load(), kThreads * kPosts);
}

TEST(NotificationThreads, DefaultCenterIsOneCenterForTheProcess) {
    auto& center = NotificationCenter::defaultCenter();
    NotificationCenter* fromThread = nullptr;
    std::thread([&] { fromThread = &NotificationCenter::defaultCenter(); }).join();
    EXPECT_EQ(&center, fromThread);

    int calls = 0;
    auto token =
        center.addObserverForName("DefaultCenterTest", nullptr, [&](const Notification&) { ++calls; });
    NotificationCenter::defaultCenter().postNotificationName("DefaultCenterTest");
    center.removeObserver(token);
    EXPECT_EQ(calls, 1);
}
