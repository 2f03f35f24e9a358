#pragma once
// A screen test in the application's world: the UI fixture under the manual clock, the service models
// registered, fresh application state and user defaults, and the service stub as the configured
// service. The network monitor a screen may start is stopped after each test. Helpers read the prompt as
// the user would see it.

#include "tests/peers/ServiceStub.h"
#include "tests/support/UIFixture.h"

#include <string>
#include <string_view>

namespace liveapp::test {

class ServiceScreenFixture : public UIFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // The prompt shown over the controller's view now ("" when none).
    static std::string promptShown(platform::UIViewController& controller);
    bool waitForPrompt(platform::UIViewController& controller, std::string_view text);

    ServiceStub stub;
};

} // namespace liveapp::test
