#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QWidget;

namespace kavo {

// What the browser view reports. Every callback runs on the main thread.
struct HtmlViewEvents
{
    std::function<void(bool ok)> LoadFinished;
    // The link under the mouse, "" when it leaves.
    std::function<void(const QString& url)> LinkHovered;
    // A link the user clicked: its href as written (entities decoded). Page scripts never get here.
    std::function<void(const QString& target)> LinkClicked;
    std::function<void(const QString& message, int line, const QString& source)> ScriptError;
    // A script of the page asked for an alert, confirm or prompt dialog, which was not shown.
    std::function<void(const QString& message)> DialogSuppressed;
};

// The browser that shows the YP-style page. The program loads it on first use from a module of
// its own, so the browser engine costs nothing at start-up.
class HtmlView
{
public:
    virtual ~HtmlView() = default;
    virtual QWidget* Widget() = 0;
    // The engine has made the widget it draws into (after the first load has begun). Its kind
    // decides how the window holding the view is made.
    virtual bool CanDraw() const = 0;
    // Shows the page from memory; relative links resolve against `folder` (a local folder, "/" at
    // the end).
    virtual void ShowPage(const QByteArray& page, const QString& folder) = 0;
    // Loads an empty page, which starts the browser's own processes; its end is not reported.
    virtual void Warm() = 0;
    // Navigates to a local file; Reload shows what the file holds now.
    virtual void ShowFile(const QString& path) = 0;
    virtual void Reload() = 0;
    // The page's vertical scroll position, -1 when it cannot be read.
    virtual void ReadScrollTop(std::function<void(int)> done) = 0;
    virtual void SetScrollTop(int top) = 0;
    // Keys and the wheel go to the page.
    virtual void FocusPage() = 0;
};

// The module's entry point, kavo_create_html_view.
using HtmlViewFactory = HtmlView* (*)(QWidget* parent, const HtmlViewEvents& events);
// The module's interface version; a module of another build is refused.
constexpr int HtmlViewVersion = 2;

// Loads the module once, with what the engine needs before it starts; false with a UTF-8 reason
// when that is not possible. Any thread may call it: the engine's libraries are large, and their
// loading need not hold up the window.
bool LoadHtmlViewModule(QString& error);
// Whether there is a module to load.
bool HtmlViewModuleFound();
// Loads the module and makes a view, on the main thread; null with a UTF-8 reason when that is not
// possible.
std::unique_ptr<HtmlView> CreateHtmlView(QWidget* parent, const HtmlViewEvents& events, QString& error);

} // namespace kavo
