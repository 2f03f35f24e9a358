// The entry of every test program: each test gets a fresh temporary app home, removed afterwards.
#include "tests/support/TemporaryHome.h"

#include <gtest/gtest.h>

namespace {
class HomePerTest : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override {
        m_home = std::make_unique<liveapp::test::TemporaryHome>();
    }
    void OnTestEnd(const testing::TestInfo&) override { m_home.reset(); }

private:
    std::unique_ptr<liveapp::test::TemporaryHome> m_home;
};
} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new HomePerTest);
    return RUN_ALL_TESTS();
}
