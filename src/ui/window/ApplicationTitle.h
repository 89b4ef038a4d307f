#pragma once

#include <QString>

#include <string>

class QWidget;

namespace kavo {

// The application title (Etc/ApplicationTitle, CP932) becomes the main window's caption and the
// title of every message box and dialog of the program; an empty one stands for "kavo", so no box
// is ever left without a title.
void ApplyApplicationTitle(QWidget& window, const std::string& title);
// The title as last applied; "kavo" before.
QString ApplicationTitle();

} // namespace kavo
