#include "ui/htmlview/HtmlView.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>

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

} // namespace

std::unique_ptr<HtmlView> CreateHtmlView(QWidget* parent, const HtmlViewEvents& events, QString& error)
{
    // Loaded once and kept: the browser engine cannot be unloaded.
    static QLibrary* module = nullptr;
    if (!module) {
        QStringList failures;
        for (const QString& candidate : ModuleCandidates()) {
            if (!QFileInfo::exists(candidate))
                continue;
            auto* library = new QLibrary(candidate);
            if (library->load()) {
                module = library;
                break;
            }
            failures.append(library->errorString());
            delete library;
        }
        if (!module) {
            error = failures.isEmpty() ? QStringLiteral("kavo-webview.so was not found") : failures.join(u'\n');
            return nullptr;
        }
    }
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
