#include "ui/htmlview/HtmlView.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QOpenGLContext>
#include <QStringList>
#include <QThread>

#include <mutex>

// The context Qt shares among all OpenGL users; the browser engine renders through it and looks for
// it when its library loads.
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
QT_END_NAMESPACE

namespace kavo {
namespace {

// $KAVO_WEBVIEW_MODULE when set (tests and benchmarks, which live elsewhere in the build folder),
// else beside the program (build folder, portable copy), then lib/kavo/ of an installed tree.
QStringList ModuleCandidates()
{
    const QString named = qEnvironmentVariable("KAVO_WEBVIEW_MODULE");
    if (!named.isEmpty())
        return {named};
    const QString programFolder = QCoreApplication::applicationDirPath();
    return {programFolder + QStringLiteral("/kavo-webview.so"),
            programFolder + QStringLiteral("/../lib/kavo/kavo-webview.so")};
}

// Made before the engine's library loads, which then finds it, rather than at start-up, where
// bringing up OpenGL would hold back the first window. Kept even when it cannot be created, as
// Qt keeps its own: the engine then renders in software.
void MakeShareContext()
{
    if (qt_gl_global_share_context())
        return;
    const bool onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    if (!onMainThread && !QOpenGLContext::supportsThreadedOpenGL())
        return; // left to the engine's module, on the main thread
    auto* context = new QOpenGLContext;
    context->setFormat(QSurfaceFormat::defaultFormat());
    context->create();
    if (!onMainThread)
        context->moveToThread(QCoreApplication::instance()->thread());
    qt_gl_set_global_share_context(context);
}

struct Module
{
    std::mutex Lock;
    bool Tried = false;
    QLibrary* Library = nullptr; // loaded once and kept: the browser engine cannot be unloaded
    QString Error;
};

Module& TheModule()
{
    static Module module;
    return module;
}

} // namespace

bool LoadHtmlViewModule(QString& error)
{
    Module& module = TheModule();
    std::lock_guard lock(module.Lock);
    if (!module.Tried) {
        module.Tried = true;
        QStringList failures;
        for (const QString& candidate : ModuleCandidates()) {
            if (!QFileInfo::exists(candidate))
                continue;
            MakeShareContext();
            auto* library = new QLibrary(candidate);
            if (library->load()) {
                library->moveToThread(QCoreApplication::instance()->thread());
                module.Library = library;
                break;
            }
            failures.append(library->errorString());
            delete library;
        }
        if (!module.Library)
            module.Error = failures.isEmpty() ? QStringLiteral("kavo-webview.so was not found") : failures.join(u'\n');
    }
    error = module.Error;
    return module.Library != nullptr;
}

bool HtmlViewModuleFound()
{
    for (const QString& candidate : ModuleCandidates())
        if (QFileInfo::exists(candidate))
            return true;
    return false;
}

std::unique_ptr<HtmlView> CreateHtmlView(QWidget* parent, const HtmlViewEvents& events, QString& error)
{
    if (!LoadHtmlViewModule(error))
        return nullptr;
    QLibrary* module = TheModule().Library;
    using Version = int (*)();
    const auto version = reinterpret_cast<Version>(module->resolve("kavo_html_view_version"));
    const auto create = reinterpret_cast<HtmlViewFactory>(module->resolve("kavo_create_html_view"));
    if (!version || !create || version() != HtmlViewVersion) {
        error = module->fileName() + QStringLiteral(" belongs to another build of kavo");
        return nullptr;
    }
    return std::unique_ptr<HtmlView>(create(parent, events));
}

} // namespace kavo
