#include "app/core/CommonData.h"
#include "app/walkthrough/ScreenReading.h"
#include "app/walkthrough/WalkThrough.h"
#include "platform/foundation/Text.h"
#include "platform/ui/NSIndexPath.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIWindow.h"

using namespace platform;
using walkthrough::dialogShown;
using walkthrough::homeScreen;
using walkthrough::liveScreen;
using walkthrough::loginScreen;

namespace {

using Moves = std::vector<WalkMove>;

WalkMove tapOn(std::function<UIViewPtr()> find) {
    return [find = std::move(find)] { walkthrough::tap(find()); };
}

// One key per character, as the keyboard sends them to the field being edited.
Moves keys(const std::string& text) {
    Moves moves;
    for (const auto& character : text::composedCharacters(text))
        moves.push_back([key = text.substr(character.byteOffset, character.byteLength)] {
            TouchSimulator::typeText(key);
        });
    return moves;
}

Moves joined(std::initializer_list<Moves> parts) {
    Moves all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Taps a field, then types into it.
Moves fill(std::function<UIViewPtr()> field, const std::string& text) {
    return joined({{tapOn(std::move(field))}, keys(text)});
}

// The backspace key, once per character of the dialog's text.
Moves eraseDialogField() {
    auto dialog = dialogShown();
    const auto field = dialog ? dialog->textFieldAtIndex(0) : nullptr;
    return Moves(field ? text::composedCharacterCount(field->text()) : 0,
                 [] { TouchSimulator::deleteBackward(); });
}

WalkMove tapDialogButton(int64_t index) {
    return tapOn([index] {
        auto dialog = dialogShown();
        return dialog ? UIViewPtr(dialog->buttonAtIndex(index)) : nullptr;
    });
}

bool captchaShown(LoginViewController& login) {
    return login.loginItemsArea()
               ->identifyingCodeTextField()
               ->identifyingCodeButton()
               ->backgroundImageForState(UIControlStateNormal) != nullptr;
}

bool avatarLoaded(HomeViewController& home) {
    return home.anchorRoomView()->avatarButton()->imageForState(UIControlStateNormal) !=
           UIImage::imageNamed("user_avatar_placeholder");
}

std::optional<int64_t> categoryRow(HomeViewController& home, const std::string& name) {
    const auto& list = home.categoryListArray();
    for (size_t row = 0; list && row < list->size(); ++row)
        if ((*list)[row]->name == name)
            return int64_t(row);
    return std::nullopt;
}

WalkMove tapCategoryRow(const std::string& name) {
    return [name] {
        auto home = homeScreen();
        auto row = home ? categoryRow(*home, name) : std::nullopt;
        if (!row)
            return;
        const auto& table = home->categoryTableView();
        const CGRect rect = table->convertRectToView(
            table->rectForRowAtIndexPath(NSIndexPath::indexPathForRow(*row, 0)), table->window());
        TouchSimulator::tapAt(table->window(), CGPointMake(CGRectGetMidX(rect), CGRectGetMidY(rect)));
    };
}

UIViewPtr resolutionButton(const std::string& title) {
    auto home = homeScreen();
    if (!home)
        return nullptr;
    const auto& chooser = home->resolutionSettingView();
    for (const UIButtonPtr& button :
         {UIButtonPtr(chooser->lowResolutionButton()), UIButtonPtr(chooser->mediumResolutionButton()),
          UIButtonPtr(chooser->highResolutionButton())})
        if (button->currentTitle() == title)
            return button;
    return nullptr;
}

bool dialogTagged(int64_t tag) {
    auto dialog = dialogShown();
    return dialog && dialog->tag() == tag;
}

std::vector<WalkStep> loginSteps(const WalkThroughOptions& o) {
    using Form = std::shared_ptr<LoginItemsArea>;
    auto form = [] { return loginScreen() ? loginScreen()->loginItemsArea() : Form(); };
    return {
        {"01-login",
         "login screen with its captcha",
         {},
         [] {
             auto login = loginScreen();
             return login && captchaShown(*login);
         }},
        {"02-credentials", "the three fields filled",
         [o, form] {
             return joined(
                 {fill([form] { return form()->userNameTextField()->textField(); }, o.account),
                  fill([form] { return form()->passwordTextField()->textField(); }, o.password),
                  fill([form] { return form()->identifyingCodeTextField()->textField(); }, o.captcha)});
         },
         [o, form] {
             return form() && form()->identifyingCodeTextField()->textField()->text() == o.captcha;
         }},
        {"03-home", "home screen with the avatar, the name and the room",
         [form] { return Moves{tapOn([form] { return form()->loginButton(); })}; },
         [] {
             auto home = homeScreen();
             return home && avatarLoaded(*home) &&
                    !home->anchorRoomView()->anchorNameLabel()->text().empty() &&
                    CommonData::sharedInstance()->roomInfo() && home->categoryListArray();
         }},
    };
}

std::vector<WalkStep> homeSteps(const WalkThroughOptions& o) {
    auto card = [] { return homeScreen()->anchorRoomView(); };
    return {
        {"04-title-dialog", "the room-title dialog",
         [card] { return Moves{tapOn([card] { return card()->roomTitleButton(); })}; },
         [] { return dialogTagged(HomeViewController::kRoomTitleAlertTag); }},
        {"05-title", "the new title on the card",
         [o] {
             return joined({eraseDialogField(), keys(o.roomTitle), {tapDialogButton(1)}});
         },
         [o] {
             auto home = homeScreen();
             return home &&
                    home->anchorRoomView()->roomTitleButton()->editTitleLabel()->text() == o.roomTitle;
         }},
        {"06-categories", "the category list",
         [card] { return Moves{tapOn([card] { return card()->roomCategoryButton(); })}; },
         [o] {
             auto home = homeScreen();
             return home && !home->containerView()->isHidden() && categoryRow(*home, o.category);
         }},
        {"07-category", "the chosen category on the card", [o] { return Moves{tapCategoryRow(o.category)}; },
         [o] {
             auto home = homeScreen();
             return home && home->containerView()->isHidden() &&
                    home->anchorRoomView()->roomCategoryButton()->currentTitle() ==
                        "直播分类：" + o.category + " ";
         }},
        {"08-resolution", "the chosen resolution",
         [o] { return Moves{tapOn([o] { return resolutionButton(o.resolution); })}; },
         [o] {
             auto chosen = CommonData::sharedInstance()->resolutionData();
             return chosen && chosen->title == o.resolution;
         }},
        {"09-first-live", "the mobile-number dialog (or the broadcast screen)",
         [] { return Moves{tapOn([] { return homeScreen()->startLiveButton(); })}; },
         [] { return liveScreen() || dialogTagged(HomeViewController::kMobilePhoneAlertTag); }},
    };
}

std::vector<WalkStep> broadcastSteps(const WalkThroughOptions& o) {
    auto panel = [] { return liveScreen()->controlPanel(); };
    // The viewer count first seen, so the chat step can wait for it to move.
    auto firstViewers = std::make_shared<uint64_t>(0);
    return {
        {"10-broadcast", "the broadcast screen, joined to the chat room",
         [o] {
             return dialogShown() ? joined({keys(o.mobile), {tapDialogButton(1)}}) : Moves{};
         },
         [] {
             auto live = liveScreen();
             return live && walkthrough::joinedChatRoom(*live);
         }},
        {"11-live", "broadcast state 3 (live)",
         [panel] { return Moves{tapOn([panel] { return panel()->captureButton(); })}; },
         [firstViewers] {
             auto live = liveScreen();
             *firstViewers = live ? walkthrough::viewers(*live) : 0;
             return live && walkthrough::sessionState(*live) == 3;
         }},
        {"12-chat",
         "three viewers' lines drawn and the viewer count moving",
         {},
         [firstViewers] {
             auto live = liveScreen();
             if (!live)
                 return false;
             const uint64_t viewers = walkthrough::viewers(*live);
             if (*firstViewers == 0)
                 *firstViewers = viewers;
             return walkthrough::chatLinesDrawn(*live) >= 3 && viewers > *firstViewers;
         }},
        {"13-stopped", "broadcast state 4 (ended)",
         // A broadcast a memory warning has already ended is not tapped on again: that would start it.
         [panel] {
             auto live = liveScreen();
             if (live && walkthrough::sessionState(*live) == 4)
                 return Moves{};
             return Moves{tapOn([panel] { return panel()->captureButton(); })};
         },
         [] {
             auto live = liveScreen();
             return live && walkthrough::sessionState(*live) == 4;
         }},
        {"14-home-again", "the home screen back",
         [panel] { return Moves{tapOn([panel] { return panel()->backButton(); })}; },
         [] { return homeScreen() != nullptr; }},
        {"15-logged-out", "the login screen with a fresh captcha",
         [] { return Moves{tapOn([] { return homeScreen()->anchorRoomView()->logoutButton(); })}; },
         [] {
             auto login = loginScreen();
             return login && captchaShown(*login) && !CommonData::sharedInstance()->loginUser();
         }},
    };
}

} // namespace

std::vector<WalkStep> walkThroughSteps(WalkThrough& walk) {
    std::vector<WalkStep> steps;
    for (auto part : {loginSteps(walk.options()), homeSteps(walk.options()), broadcastSteps(walk.options())})
        for (auto& step : part)
            steps.push_back(std::move(step));
    return steps;
}
