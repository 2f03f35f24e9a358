#pragma once
// The development service's pictures, drawn when it starts: the captcha, which shows its code among a
// few strokes of noise, and the anchor's avatar, wider than it is tall (the home screen squares it).
// Both come back as PNG bytes.

#include <string>

namespace devservice {

std::string captchaPNG(const std::string& code);
std::string avatarPNG();

} // namespace devservice
