#include "sockets/common/SharedBytes.h"

#include <gtest/gtest.h>

using sockets::SharedBytes;

TEST(SharedBytes, SliceOfACallerBufferOutlivesEveryOtherOwner) {
    auto buffer = std::make_shared<platform::MutableData>();
    buffer->appendString("headerpayload");
    SharedBytes slice(buffer, 6, 7);
    std::weak_ptr<platform::MutableData> watch = buffer;
    buffer.reset();

    ASSERT_FALSE(watch.expired());
    EXPECT_EQ(slice.view(), "payload");
    SharedBytes copy = slice;
    slice = SharedBytes();
    EXPECT_EQ(copy.toString(), "payload");
    copy = SharedBytes();
    EXPECT_TRUE(watch.expired());
}

TEST(SharedBytes, SliceIsClampedToTheBufferAndConvertsToData) {
    auto buffer = std::make_shared<platform::MutableData>();
    buffer->appendString("abc");
    SharedBytes slice(buffer, 2, 10);
    EXPECT_EQ(slice.length(), 1u);
    EXPECT_EQ(slice.data(), platform::Data(std::string_view("c")));
    EXPECT_EQ(SharedBytes(buffer, 9, 1).length(), 0u);

    SharedBytes fromData(platform::Data(std::string_view("xyz")));
    EXPECT_EQ(fromData, platform::Data(std::string_view("xyz")));
    EXPECT_TRUE(SharedBytes().empty());
}
