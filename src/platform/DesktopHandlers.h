#pragma once

#include <string>

namespace kavo {

// Whether the desktop has a program registered for URLs of this scheme ("peercast"): the
// associations of mimeapps.list and the MIME caches and desktop entries of the application folders
// (XDG_CONFIG_HOME, XDG_CONFIG_DIRS, XDG_DATA_HOME, XDG_DATA_DIRS). A best guess: xdg-open itself
// may still find none.
bool HasSchemeHandler(const std::string& scheme);

// The scheme of a URL ("peercast" of "peercast://pls/..."); "" for a path or a text without one.
std::string UrlScheme(const std::string& target);

} // namespace kavo
