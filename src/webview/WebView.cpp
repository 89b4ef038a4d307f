// The browser of the YP-style page, a module of its own: the program loads it when the page is
// first shown, so that the browser engine costs neither start-up time nor memory before.
#include "ui/htmlview/HtmlView.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <QOpenGLContext>
#include <QPalette>
#include <QPointer>
#include <QVariantMap>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <unistd.h>

#include <utility>

// The context Qt shares among all OpenGL users; the browser engine renders through it. Qt makes it at
// start-up only when asked before the application object exists, which would cost every start the
// time to bring up OpenGL: the program makes it before it loads this module, and the module when it
// was loaded another way.
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
QT_END_NAMESPACE

namespace kavo {
namespace {

// The page in memory is served from this scheme; relative links resolve below the template folder.
const QByteArray PageScheme = QByteArrayLiteral("kavo-page");
const QUrl PageUrl(QStringLiteral("kavo-page://page/page.html"));
// The empty page that starts the browser's own processes before the first real one; its loading is
// not reported.
const QUrl WarmUrl(QStringLiteral("kavo-page://page/warm.html"));
// Schemes the page's links use: registered so that a click on one reaches the view as a request
// the view handles, never as a program the desktop would start.
const QByteArray LinkSchemes[] = {QByteArrayLiteral("kavo"), QByteArrayLiteral("peercast")};

// Runs in a world of its own, which the page's scripts can neither see nor change: remembers the
// link of the user's last real click (a script's click() is not trusted).
const char* ClickRecorder = R"JS(
(function () {
    var last = null;
    function record(event) {
        if (!event.isTrusted)
            return;
        var link = event.target && event.target.closest ? event.target.closest('a[href]') : null;
        last = link ? {href: link.href, target: link.getAttribute('href')} : null;
    }
    window.addEventListener('click', record, true);
    window.addEventListener('auxclick', record, true);
    window.kavoTakeLink = function () { var link = last; last = null; return link; };
})();
)JS";

void addFlag(const QByteArray& flag)
{
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains(flag))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.isEmpty() ? flag : flags + ' ' + flag);
}

bool DarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

void PrepareEngine()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (!qt_gl_global_share_context()) {
        // Kept even when it cannot be created, as Qt keeps its own.
        auto* context = new QOpenGLContext;
        context->setFormat(QSurfaceFormat::defaultFormat());
        context->create();
        qt_gl_set_global_share_context(context);
    }
    // Without OpenGL (offscreen, or none at all) the engine renders in software.
    if (!qt_gl_global_share_context()->isValid())
        addFlag("--disable-gpu");
    // A dark desktop: pages are told so (prefers-color-scheme), and the default templates follow.
    if (DarkPalette(QGuiApplication::palette()))
        addFlag("--force-dark-mode");
    // The engine's sandbox refuses to run as root.
    if (geteuid() == 0)
        addFlag("--no-sandbox");
    QWebEngineUrlScheme page(PageScheme);
    page.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    // Templates may name their files with file URLs (the $ee{<templatepath/>} form).
    page.setFlags(QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(page);
    for (const QByteArray& name : LinkSchemes) {
        QWebEngineUrlScheme link(name);
        link.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        QWebEngineUrlScheme::registerScheme(link);
    }
}

// Serves the page from memory and the other files of its folder.
class PageSchemeHandler : public QWebEngineUrlSchemeHandler
{
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    QByteArray Page;
    QString Folder;

    void requestStarted(QWebEngineUrlRequestJob* job) override
    {
        const QUrl url = job->requestUrl();
        if (job->requestMethod() != "GET" || url.host() != PageUrl.host()) {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
            return;
        }
        if (url.path() == PageUrl.path()) {
            reply(job, QByteArrayLiteral("text/html"), Page);
            return;
        }
        if (url.path() == WarmUrl.path()) {
            reply(job, QByteArrayLiteral("text/html"), QByteArray());
            return;
        }
        // A file below the folder, never above it.
        const QString relative = QDir::cleanPath(url.path().mid(1));
        if (Folder.isEmpty() || relative.isEmpty() || relative.startsWith(QStringLiteral("..")) ||
            QDir::isAbsolutePath(relative)) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        QFile file(Folder + relative);
        if (!file.open(QIODevice::ReadOnly)) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        reply(job, QMimeDatabase().mimeTypeForFile(file.fileName()).name().toLatin1(), file.readAll());
    }

private:
    static void reply(QWebEngineUrlRequestJob* job, const QByteArray& type, const QByteArray& data)
    {
        auto* buffer = new QBuffer(job);
        buffer->setData(data);
        job->reply(type, buffer);
    }
};

// The program's link schemes lead nowhere inside the view.
class RefusingSchemeHandler : public QWebEngineUrlSchemeHandler
{
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override { job->fail(QWebEngineUrlRequestJob::RequestDenied); }
};

class Page : public QWebEnginePage
{
public:
    Page(QWebEngineProfile* profile, const HtmlViewEvents& events, QObject* parent)
        : QWebEnginePage(profile, parent), m_events(events)
    {
        QWebEngineScript recorder;
        recorder.setName(QStringLiteral("kavo-click-recorder"));
        recorder.setSourceCode(QString::fromLatin1(ClickRecorder));
        recorder.setWorldId(QWebEngineScript::ApplicationWorld);
        recorder.setInjectionPoint(QWebEngineScript::DocumentCreation);
        recorder.setRunsOnSubFrames(false);
        scripts().insert(recorder);

        connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
            // Never opened: the view handles the link itself, and only a link the user clicked.
            if (request.isUserInitiated())
                routeClickedLink(request.requestedUrl());
        });
        connect(this, &QWebEnginePage::linkHovered, this, [this](const QString& url) {
            if (m_events.LinkHovered)
                m_events.LinkHovered(url);
        });
    }

    // What the view shows; every other navigation is refused.
    QUrl Shown;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (url.adjusted(QUrl::RemoveFragment) == Shown.adjusted(QUrl::RemoveFragment) && !Shown.isEmpty())
            return true;
        if (type == NavigationTypeLinkClicked && isMainFrame)
            routeClickedLink(url);
        return false;
    }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override
    {
        if (level == ErrorMessageLevel && m_events.ScriptError)
            m_events.ScriptError(message, line, source);
    }

    // The page's scripts open no dialogs: a page that kavo shows is no place for them, and text from
    // a YP must never get one in front of the user.
    void javaScriptAlert(const QUrl&, const QString& message) override { dialogSuppressed(message); }
    bool javaScriptConfirm(const QUrl&, const QString& message) override
    {
        // Asked before the page is left: a rebuild always may.
        if (message ==
            QCoreApplication::translate(
                "QWebEnginePage", "Are you sure you want to leave this page? Changes that you made may not be saved."))
            return true;
        dialogSuppressed(message);
        return false;
    }
    bool javaScriptPrompt(const QUrl&, const QString& message, const QString&, QString*) override
    {
        dialogSuppressed(message);
        return false;
    }

private:
    void dialogSuppressed(const QString& message)
    {
        if (m_events.DialogSuppressed)
            m_events.DialogSuppressed(message);
    }

    // The request counts only when it asks for the link of the user's last real click: a page script
    // that opens another address while the user clicks gets nothing.
    void routeClickedLink(const QUrl& requested)
    {
        runJavaScript(QStringLiteral("typeof kavoTakeLink === 'function' ? kavoTakeLink() : null"),
                      QWebEngineScript::ApplicationWorld, [this, requested](const QVariant& result) {
                          const QVariantMap link = result.toMap();
                          const QUrl href(link.value(QStringLiteral("href")).toString());
                          if (link.isEmpty() ||
                              href.toString(QUrl::FullyEncoded) != requested.toString(QUrl::FullyEncoded))
                              return;
                          if (m_events.LinkClicked)
                              m_events.LinkClicked(link.value(QStringLiteral("target")).toString());
                      });
    }

    const HtmlViewEvents& m_events;
};

class WebView : public HtmlView
{
public:
    WebView(QWidget* parent, HtmlViewEvents events) : m_events(std::move(events))
    {
        PrepareEngine();
        m_profile = new QWebEngineProfile(); // off the record: nothing is kept on disk
        m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
        m_pages = new PageSchemeHandler(m_profile);
        m_profile->installUrlSchemeHandler(PageScheme, m_pages);
        auto* refusing = new RefusingSchemeHandler(m_profile);
        for (const QByteArray& name : LinkSchemes)
            m_profile->installUrlSchemeHandler(name, refusing);
        QWebEngineSettings* settings = m_profile->settings();
        settings->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
        settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        // A template without a charset of its own is read as the templates are written.
        settings->setDefaultTextEncoding(QStringLiteral("Shift_JIS"));

        m_view = new QWebEngineView(parent);
        m_view->setContextMenuPolicy(Qt::NoContextMenu);
        m_page = new Page(m_profile, m_events, m_view);
        m_view->setPage(m_page);
        // What shows until the first page has drawn: the window's colour, not a white block.
        m_page->setBackgroundColor(m_view->palette().color(QPalette::Base));
        QObject::connect(m_page, &QWebEnginePage::loadingChanged, m_view, [this](const QWebEngineLoadingInfo& info) {
            if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus || info.url() == WarmUrl)
                return;
            if (m_events.LoadFinished)
                m_events.LoadFinished(info.status() == QWebEngineLoadingInfo::LoadSucceededStatus);
        });
    }

    ~WebView() override
    {
        // The page goes before its profile.
        delete m_view.data();
        delete m_profile;
    }

    QWidget* Widget() override { return m_view; }
    bool CanDraw() const override { return m_view && m_view->focusProxy(); }

    void ShowPage(const QByteArray& page, const QString& folder) override
    {
        m_pages->Page = page;
        m_pages->Folder = folder;
        m_page->Shown = PageUrl;
        m_page->load(PageUrl);
    }

    void Warm() override
    {
        m_page->Shown = WarmUrl;
        m_page->load(WarmUrl);
    }

    void ShowFile(const QString& path) override
    {
        m_page->Shown = QUrl::fromLocalFile(path);
        m_page->load(m_page->Shown);
    }

    void Reload() override { m_page->triggerAction(QWebEnginePage::ReloadAndBypassCache); }

    void ReadScrollTop(std::function<void(int)> done) override
    {
        m_page->runJavaScript(QStringLiteral("(document.scrollingElement || document.body).scrollTop"),
                              QWebEngineScript::ApplicationWorld, [done = std::move(done)](const QVariant& top) {
                                  bool ok = false;
                                  const int value = top.toInt(&ok);
                                  done(ok ? value : -1);
                              });
    }

    void SetScrollTop(int top) override
    {
        m_page->runJavaScript(QStringLiteral("(document.scrollingElement || document.body).scrollTop = %1").arg(top),
                              QWebEngineScript::ApplicationWorld);
    }

    void FocusPage() override
    {
        if (m_view && !m_view->hasFocus() && !(m_view->focusProxy() && m_view->focusProxy()->hasFocus()))
            m_view->setFocus();
    }

private:
    HtmlViewEvents m_events;
    QWebEngineProfile* m_profile = nullptr;
    PageSchemeHandler* m_pages = nullptr;
    QPointer<QWebEngineView> m_view;
    Page* m_page = nullptr;
};

} // namespace
} // namespace kavo

extern "C" Q_DECL_EXPORT int kavo_html_view_version()
{
    return kavo::HtmlViewVersion;
}

extern "C" Q_DECL_EXPORT kavo::HtmlView* kavo_create_html_view(QWidget* parent, const kavo::HtmlViewEvents& events)
{
    return new kavo::WebView(parent, events);
}
