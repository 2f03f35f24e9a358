#include "ModelFixtures.h"

#include <atomic>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <latch>
#include <thread>
#include <vector>

using fixtures::parseJSON;
using platform::Value;

namespace {

class Speaker : public MappedModel {
    MAPPED_MODEL(Speaker)
public:
    std::optional<std::string> speakerName;
    int64_t speakerLevel{0};
    static std::shared_ptr<KeyMapper> keyMapper() { return KeyMapper::mapperFromUnderscoreCaseToCamelCase(); }
};

class Line : public MappedModel {
    MAPPED_MODEL(Line)
public:
    std::optional<std::string> text;
    Value sentAt;
    std::shared_ptr<Speaker> speaker;
    std::vector<std::shared_ptr<Speaker>> mentions;
    void setTextWithNSNumber(const Value& value) { text = "#" + value.number()->stringValue(); }
};

void registerLineModels() {
    MappedModel::registerModel<Speaker>("Speaker", {
                                                       MAPPED_PROPERTY(Speaker, speakerName, "@\"NSString\""),
                                                       MAPPED_PROPERTY(Speaker, speakerLevel, "q"),
                                                   });
    MappedModel::registerModel<Line>("Line",
                                     {
                                         MAPPED_PROPERTY(Line, text, "@\"NSString\""),
                                         MAPPED_PROPERTY(Line, sentAt, "@\"NSDate<Optional>\""),
                                         MAPPED_PROPERTY(Line, speaker, "@\"Speaker\""),
                                         MAPPED_PROPERTY(Line, mentions, "@\"NSArray<Speaker><Optional>\""),
                                     },
                                     {MAPPED_SETTER(Line, setTextWithNSNumber)});
}

std::string lineJSON(int thread, int i) {
    std::string text = i % 3 == 0 ? std::to_string(i) : fmt::format("\"hello {}\"", i);
    return fmt::format(
        R"({{"text": {}, "sentAt": {}, "speaker": {{"speaker_name": "t{}", "speaker_level": {}}},
                          "mentions": [{{"speaker_name": "m", "speaker_level": 1}}]}})",
        text, 1700000000 + i, thread, i);
}

// The chat client imports chat lines on a concurrent queue: the first use of a model class (its
// inspection, key mapper and setter memo) may happen on several threads at once.
TEST(ModelConcurrency, OneModelClassImportsAndExportsOnEightThreadsFromFirstUse) {
    registerLineModels();
    constexpr int kThreads = 8;
    constexpr int kLines = 150;
    std::latch start(kThreads);
    std::atomic<int> imported{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kLines; ++i) {
                auto line = Line::initWithString(lineJSON(t, i));
                if (!line || !line->speaker || line->mentions.size() != 1) {
                    ++wrong;
                    continue;
                }
                std::string expected = i % 3 == 0 ? "#" + std::to_string(i) : fmt::format("hello {}", i);
                if (line->text != expected || line->speaker->speakerName != fmt::format("t{}", t) ||
                    line->speaker->speakerLevel != i)
                    ++wrong;
                Value exported = line->toDictionary();
                if (exported["speaker"]["speaker_name"] != Value(fmt::format("t{}", t)))
                    ++wrong;
                if (line->description().empty())
                    ++wrong;
                ++imported;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(imported, kThreads * kLines);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(MappedModel::propertiesOfClass("Line").size(), 4u);
}

TEST(ModelConcurrency, GlobalKeyMapperMayBeReplacedWhileModelsImport) {
    fixtures::registerModelFixtures();
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        while (!done) {
            MappedModel::setGlobalKeyMapper(KeyMapper::mapperFromUpperCaseToLowerCase());
            MappedModel::setGlobalKeyMapper(nullptr);
        }
    });
    int failures = 0;
    for (int i = 0; i < 300; ++i) {
        // The upper-cased key serves while the global mapper is set, the plain one while it is not.
        if (!fixtures::MTChat::initWithDictionary(parseJSON(R"({"content": "a", "CONTENT": "a"})")))
            ++failures;
    }
    done = true;
    swapper.join();
    MappedModel::setGlobalKeyMapper(nullptr);
    EXPECT_EQ(failures, 0);
}

// A thread that looked the class up before it was registered finds it right after, however the
// registry remembers what each thread saw.
TEST(ModelConcurrency, AClassRegisteredLaterIsFoundByAThreadThatLookedBefore) {
    class LateModel : public MappedModel {
        MAPPED_MODEL(LateModel)
    public:
        std::optional<std::string> note;
    };
    std::latch looked(1), registered(1);
    bool foundBefore = true, foundAfter = false;
    std::thread reader([&] {
        foundBefore = MappedModel::isMappedModelSubClass("LateModel");
        looked.count_down();
        registered.wait();
        foundAfter = MappedModel::isMappedModelSubClass("LateModel");
    });
    looked.wait();
    MappedModel::registerModel<LateModel>("LateModel", {MAPPED_PROPERTY(LateModel, note, "@\"NSString\"")});
    registered.count_down();
    reader.join();
    EXPECT_FALSE(foundBefore);
    EXPECT_TRUE(foundAfter);
}

} // namespace
