// Chat lines: fixed texts of the state lines, display texts and their colours by type.

#include "app/core/ServiceModels.h"
#include "platform/foundation/JSONSerialization.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using platform::NSAttributedString;
using platform::Range;
using platform::UIColorPtr;
using platform::Value;

struct RGB {
    int red, green, blue;
};

::testing::AssertionResult hasColour(const UIColorPtr& colour, RGB expected) {
    if (!colour)
        return ::testing::AssertionFailure() << "no colour";
    double r = 0, g = 0, b = 0, a = 0;
    colour->getRed(&r, &g, &b, &a);
    auto same = [](double component, int byte) { return std::abs(component * 255.0 - byte) < 0.01; };
    if (same(r, expected.red) && same(g, expected.green) && same(b, expected.blue) && a == 1.0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "colour (" << r * 255 << ", " << g * 255 << ", " << b * 255 << ", " << a << ")";
}

// The runs of a display text as (text, colour) pairs, checking the font on the way.
std::vector<std::pair<std::string, UIColorPtr>> runsOf(const NSAttributedString& text) {
    std::vector<std::pair<std::string, UIColorPtr>> runs;
    text.enumerateAttributesInRange(
        Range{0, text.length()}, 0, [&](const platform::NSAttributes& attributes, Range range, bool*) {
            auto font = attributes.get(platform::NSFontAttributeName).objectAs<platform::UIFont>();
            EXPECT_TRUE(font && font->pointSize() == 10.0);
            runs.emplace_back(
                platform::text::substringWithRange(text.string(), range),
                attributes.get(platform::NSForegroundColorAttributeName).objectAs<platform::UIColor>());
        });
    return runs;
}

class ChatModelTest : public testing::Test {
protected:
    void SetUp() override { registerServiceModels(); }

    static std::shared_ptr<ChatModel> line(std::string_view json) {
        auto model = ChatModel::initWithDictionary(
            platform::JSONSerialization::JSONObjectWithData(platform::Data(json)));
        EXPECT_TRUE(model) << json;
        return model;
    }
};

constexpr RGB kWhite{255, 255, 255};

TEST_F(ChatModelTest, StateLinesShowTheirFixedTextWhateverTheirOwn) {
    struct Case {
        int64_t type;
        const char* text;
        RGB colour;
    };
    for (const Case& c :
         {Case{-101, "弹幕服务器连接中...", {0, 186, 17}}, Case{-100, "弹幕服务器连接成功！", {255, 76, 52}},
          Case{-99, "弹幕服务器断开连接！", {223, 50, 217}}, Case{1000001, "直播开始啦！", {255, 76, 52}},
          Case{1000002, "直播结束啦！", {223, 50, 217}}}) {
        auto model = std::make_shared<ChatModel>();
        model->setType(Value(c.type));
        model->setText("anything");
        EXPECT_EQ(model->text(), c.text);
        EXPECT_EQ(model->storedText(), c.text); // the getter stores it
        auto shown = model->attributedString();
        EXPECT_EQ(shown->string(), c.text);
        auto runs = runsOf(*shown);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_TRUE(hasColour(runs[0].second, c.colour)) << c.type;
    }
}

TEST_F(ChatModelTest, ChatLineShowsNickThenText) {
    for (int type : {0, 999}) {
        auto model = std::make_shared<ChatModel>();
        model->setType(Value(type));
        model->setText("hello");
        model->user = std::make_shared<UserModel>();
        model->user->nick = "N";
        auto shown = model->attributedString();
        EXPECT_EQ(shown->string(), "N：hello");
        auto runs = runsOf(*shown);
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_EQ(runs[0].first, "N：");
        EXPECT_TRUE(hasColour(runs[0].second, {2, 252, 237}));
        EXPECT_EQ(runs[1].first, "hello");
        EXPECT_TRUE(hasColour(runs[1].second, kWhite));
    }
}

TEST_F(ChatModelTest, GiftLineThanksTheGiver) {
    auto model = line(R"({"type": 5, "text": "rocket", "user": {"id": 3, "nick": "N"}})");
    auto shown = model->attributedString();
    EXPECT_EQ(shown->string(), "感谢 N 送给主播 rocket ！");
    auto runs = runsOf(*shown);
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_TRUE(hasColour(runs[0].second, kWhite));
    EXPECT_EQ(runs[1].first, "N");
    EXPECT_TRUE(hasColour(runs[1].second, {0, 255, 240}));
    EXPECT_TRUE(hasColour(runs[2].second, kWhite));
    EXPECT_EQ(runs[3].first, "rocket");
    EXPECT_TRUE(hasColour(runs[3].second, {255, 198, 0}));
    EXPECT_EQ(runs[4].first, " ！");
    EXPECT_TRUE(hasColour(runs[4].second, kWhite));
}

TEST_F(ChatModelTest, OtherNegativeTypesShowTheirTextInTheDefaultColour) {
    auto model = line(R"({"type": -3, "text": "odd", "user": {"id": 3, "nick": "N"}})");
    auto runs = runsOf(*model->attributedString());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, "odd");
    EXPECT_TRUE(hasColour(runs[0].second, {1, 137, 255}));
}

// Lines missing a part: what is shown, and the text kept.
TEST_F(ChatModelTest, IncompleteLinesShowWhatTheyCan) {
    const struct {
        const char* json;
        const char* shown;
        const char* text;
    } cases[] = {
        {R"({"type": 0, "text": "hello"})", "", "hello"},                       // no user
        {R"({"type": 0, "text": "hello", "user": {"id": 3}})", "", "hello"},    // no nick
        {R"({"type": 0, "user": {"id": 3, "nick": "N"}})", "N：", ""},          // no text
        {R"({"type": 5, "user": {"id": 3, "nick": "N"}})", "", ""},             // a gift without text
        {R"({"type": "-99"})", "弹幕服务器断开连接！", "弹幕服务器断开连接！"}, // type as text
    };
    for (const auto& c : cases) {
        auto model = line(c.json);
        ASSERT_TRUE(model);
        EXPECT_EQ(model->attributedString()->string(), c.shown) << c.json;
        EXPECT_EQ(model->text(), c.text) << c.json;
    }
    EXPECT_TRUE(hasColour(ChatModel::stateInfoCustomColor(5), {1, 137, 255}));
}

TEST_F(ChatModelTest, LineWithoutTypeShowsNothingAndIsBuiltOnceItHasOne) {
    auto model = line(R"({"text": "hello", "user": {"id": 3, "nick": "N"}})");
    EXPECT_EQ(model->chatRoomType(), 0);
    EXPECT_EQ(model->attributedString()->string(), "");
    model->setType(Value(0));
    EXPECT_EQ(model->attributedString()->string(), "N：hello");
}

TEST_F(ChatModelTest, DisplayTextIsKeptAfterTheFieldsChange) {
    auto model = line(R"({"type": 0, "text": "first", "user": {"id": 3, "nick": "N"}})");
    auto shown = model->attributedString();
    model->setText("second");
    model->setType(Value(-99));
    EXPECT_EQ(model->attributedString().get(), shown.get());
    EXPECT_EQ(model->attributedString()->string(), "N：first");
}

TEST_F(ChatModelTest, AttributedTextCarriesFontAndColourOverItsWholeLength) {
    auto font = platform::UIFont::systemFontOfSize(10);
    auto shown = ChatModel::attributedString("a文b", font, platform::UIColor::colorWithRed(1, 0, 0, 1));
    auto runs = runsOf(*shown);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, "a文b");
    EXPECT_TRUE(hasColour(runs[0].second, {255, 0, 0}));
}

} // namespace
