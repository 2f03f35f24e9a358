// The entry of every test program: each test gets a fresh temporary app home and shared folder,
// removed afterwards.
#include "tests/support/TemporaryHome.h"

#include <gtest/gtest.h>

namespace {
class HomePerTest : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override {
        m_home = std::make_unique<liveapp::test::TemporaryHome>();
        m_shared = std::make_unique<liveapp::test::TemporarySharedFolder>();
    }
    void OnTestEnd(const testing::TestInfo&) override {
        m_shared.reset();
        m_home.reset();
    }

private:
    std::unique_ptr<liveapp::test::TemporaryHome> m_home;
    std::unique_ptr<liveapp::test::TemporarySharedFolder> m_shared;
};
} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new HomePerTest);
    return RUN_ALL_TESTS();
}
