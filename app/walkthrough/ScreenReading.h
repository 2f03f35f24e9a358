#pragma once
// What the walk-through reads off the key window, as a person would see it: which screen is on top, the
// prompt shown, the broadcast screen's state, chat lines and viewer count; and where to touch a view.
// Main thread only.

#include "app/screens/HomeViewController.h"
#include "app/screens/LiveViewController.h"
#include "app/screens/LoginViewController.h"
#include "platform/ui/UIAlertView.h"

#include <memory>
#include <string>
#include <vector>

namespace walkthrough {

std::shared_ptr<LoginViewController> loginScreen(); // the top screen, when it is the login screen
std::shared_ptr<HomeViewController> homeScreen();   // the top screen with nothing over it
std::shared_ptr<LiveViewController> liveScreen();   // presented and on screen
std::string screenName();                           // "login", "home", "broadcast" or ""
std::string promptShown();                          // the visible prompt's text, "" when none
bool overlayCovering();                             // a prompt or loading overlay takes the touches
platform::UIAlertViewPtr dialogShown();             // the dialog on screen, if any
int64_t sessionState(LiveViewController& live);
std::vector<std::string> chatLines(LiveViewController& live); // chat and gift lines, oldest first
bool joinedChatRoom(LiveViewController& live);                // the list says the chat server connected
size_t chatLinesDrawn(LiveViewController& live);              // chat and gift lines the list shows
uint64_t viewers(LiveViewController& live);

// A tap at the centre of the view, through the window.
void tap(const platform::UIViewPtr& view);

} // namespace walkthrough
