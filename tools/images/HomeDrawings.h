#pragma once
// Drawings of the login and home screens' images: the login picture, logo and row icons, the start
// button, the card's arrow, edit icon, tiled background and avatar placeholder, and the parameters
// panel's icons. Each draws into a context of the image's size in points, origin at the top left.

#include <vector>

namespace liveapp::images {

struct CatalogImage;

// The catalogue entries of the login and home screens ("login_*", "home_*", "anchor_*", "user_*").
std::vector<CatalogImage> homeImages();

} // namespace liveapp::images
