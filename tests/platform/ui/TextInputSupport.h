#pragma once
// A UI fixture for text input: it leaves no first responder and a hidden keyboard behind, so one test's
// focus never reaches the next.

#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UIResponder.h"
#include "tests/support/UIFixture.h"

namespace liveapp::test {

class TextInputFixture : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        platform::UIKeyboard::reset();
    }
    void TearDown() override {
        if (auto responder = platform::UIResponder::currentFirstResponder())
            responder->resignFirstResponder();
        platform::UIKeyboard::reset();
        UIFixture::TearDown();
    }
};

} // namespace liveapp::test
