#include "tests/app/support/ServiceScreenFixture.h"

#include "app/core/AppConfiguration.h"
#include "app/core/AppNetworkMonitoring.h"
#include "app/core/CommonData.h"
#include "app/core/ServiceModels.h"
#include "app/ui/UIView+LoadingPrompt.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIViewController.h"

#include <cstdlib>

namespace liveapp::test {

using namespace platform;

void ServiceScreenFixture::SetUp() {
    UIFixture::SetUp();
    useManualClock();
    registerServiceModels();
    CommonData::resetSharedInstanceForTesting();
    UserDefaults::resetStandardForTesting();
    setenv(AppConfiguration::kServiceURLVariable, stub.baseURL().c_str(), 1);
}

void ServiceScreenFixture::TearDown() {
    UIFixture::TearDown();
    // A screen that follows the network started the monitor's thread: it must not outlive the test.
    AppNetworkMonitoring::resetSharedInstanceForTesting();
    CommonData::resetSharedInstanceForTesting();
    UserDefaults::resetStandardForTesting();
    unsetenv(AppConfiguration::kServiceURLVariable);
}

std::string ServiceScreenFixture::promptShown(UIViewController& controller) {
    auto view = controller.viewIfLoaded();
    auto hud = view ? promptViewProperty(*view) : nullptr;
    if (!hud || !hud->superview() || hud->subviews().empty())
        return {};
    auto label = std::dynamic_pointer_cast<UILabel>(hud->subviews()[0]);
    return label ? label->text() : std::string();
}

bool ServiceScreenFixture::waitForPrompt(UIViewController& controller, std::string_view text) {
    return pumpUntil([&] { return promptShown(controller) == text; });
}

} // namespace liveapp::test
