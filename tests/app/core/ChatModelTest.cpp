// Chat lines: fixed texts of the state lines, display texts and their colours by type.

#include "app/core/ServiceModels.h"
#include "platform/foundation/JSONSerialization.h"

#include <cmath>
#include <fmt/format.h>
#include <gtest/gtest.h>

namespace {

using platform::Value;

// "#rrggbb" of an opaque colour.
std::string hex(const platform::UIColorPtr& colour) {
    double r = 0, g = 0, b = 0, a = 0;
    if (colour)
        colour->getRed(&r, &g, &b, &a);
    EXPECT_EQ(a, 1.0);
    auto byte = [](double component) { return static_cast<int>(std::lround(component * 255.0)); };
    return fmt::format("#{:02x}{:02x}{:02x}", byte(r), byte(g), byte(b));
}

// The runs of a display text as "text#rrggbb" joined by "|", checking the font on the way.
std::string runsOf(const platform::NSAttributedStringPtr& text) {
    std::string runs;
    text->enumerateAttributesInRange(
        platform::Range{0, text->length()}, 0,
        [&](const platform::NSAttributes& attributes, platform::Range range, bool*) {
            auto font = attributes.get(platform::NSFontAttributeName).objectAs<platform::UIFont>();
            EXPECT_TRUE(font && font->pointSize() == 10.0);
            runs +=
                (runs.empty() ? "" : "|") + platform::text::substringWithRange(text->string(), range) +
                hex(attributes.get(platform::NSForegroundColorAttributeName).objectAs<platform::UIColor>());
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

TEST_F(ChatModelTest, StateLinesShowTheirFixedTextWhateverTheirOwn) {
    const struct {
        int64_t type;
        const char* text;
        const char* colour;
    } cases[] = {{-101, "弹幕服务器连接中...", "#00ba11"},
                 {-100, "弹幕服务器连接成功！", "#ff4c34"},
                 {-99, "弹幕服务器断开连接！", "#df32d9"},
                 {1000001, "直播开始啦！", "#ff4c34"},
                 {1000002, "直播结束啦！", "#df32d9"}};
    for (const auto& c : cases) {
        auto model = std::make_shared<ChatModel>();
        model->setType(Value(c.type));
        model->setText("anything");
        EXPECT_EQ(model->text(), c.text);
        EXPECT_EQ(model->storedText(), c.text); // the getter stores it
        EXPECT_EQ(runsOf(model->attributedString()), std::string(c.text) + c.colour);
    }
}

// Display texts of each line type, run by run; lines missing a part show what they can.
TEST_F(ChatModelTest, LinesShowTheirRunsByType) {
    const struct {
        const char* json;
        const char* runs;
        const char* text;
    } cases[] = {
        {R"({"type": 0, "text": "hello", "user": {"id": 3, "nick": "N"}})", "N：#02fced|hello#ffffff",
         "hello"},
        {R"({"type": 999, "text": "hello", "user": {"id": 3, "nick": "N"}})", "N：#02fced|hello#ffffff",
         "hello"},
        {R"({"type": 5, "text": "rocket", "user": {"id": 3, "nick": "N"}})",
         "感谢 #ffffff|N#00fff0| 送给主播 #ffffff|rocket#ffc600| ！#ffffff", "rocket"},
        {R"({"type": -3, "text": "odd", "user": {"id": 3, "nick": "N"}})", "odd#0189ff", "odd"},
        {R"({"type": 0, "text": "hello"})", "", "hello"},                              // no user
        {R"({"type": 0, "text": "hello", "user": {"id": 3}})", "", "hello"},           // no nick
        {R"({"type": 0, "user": {"id": 3, "nick": "N"}})", "N：#02fced", ""},          // no text
        {R"({"type": 5, "user": {"id": 3, "nick": "N"}})", "", ""},                    // a gift without text
        {R"({"type": "-99"})", "弹幕服务器断开连接！#df32d9", "弹幕服务器断开连接！"}, // type as text
    };
    for (const auto& c : cases) {
        auto model = line(c.json);
        ASSERT_TRUE(model);
        EXPECT_EQ(runsOf(model->attributedString()), c.runs) << c.json;
        EXPECT_EQ(model->text(), c.text) << c.json;
    }
    EXPECT_EQ(hex(ChatModel::stateInfoCustomColor(5)), "#0189ff");
}

TEST_F(ChatModelTest, DisplayTextWaitsForATypeAndIsKeptAfterTheFieldsChange) {
    auto model = line(R"({"text": "first", "user": {"id": 3, "nick": "N"}})");
    EXPECT_EQ(model->chatRoomType(), 0);
    EXPECT_EQ(model->attributedString()->string(), "");
    model->setType(Value(0));
    auto shown = model->attributedString();
    EXPECT_EQ(shown->string(), "N：first");
    model->setText("second");
    model->setType(Value(-99));
    EXPECT_EQ(model->attributedString().get(), shown.get());
    EXPECT_EQ(model->attributedString()->string(), "N：first");
}

TEST_F(ChatModelTest, AttributedTextCarriesFontAndColourOverItsWholeLength) {
    auto font = platform::UIFont::systemFontOfSize(10);
    auto shown = ChatModel::attributedString("a文b", font, platform::UIColor::colorWithRed(1, 0, 0, 1));
    EXPECT_EQ(runsOf(shown), "a文b#ff0000");
}

} // namespace
