// The default YP-style page on a dark desktop: the browser is told so, and the page is dark too.
// A process of its own, as the browser takes the desktop's scheme once, when it starts.
#include "ui/htmlview/HtmlView.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

using namespace kavo;

namespace {

const QString Templates = QStringLiteral(KAVO_TEST_DATA "/../../data/templates/");

QByteArray Template(const char* name)
{
    QFile file(Templates + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QVariant Js(QWebEngineView* view, const QString& script)
{
    QVariant result;
    bool done = false;
    view->page()->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(done, 10000); }();
    return result;
}

} // namespace

class YpLikeDarkTest : public QObject
{
    Q_OBJECT

private slots:
    void defaultTemplatesFollowADarkDesktop()
    {
        bool loaded = false;
        HtmlViewEvents events;
        events.LoadFinished = [&](bool ok) { loaded = ok; };
        QString error;
        std::unique_ptr<HtmlView> view = CreateHtmlView(nullptr, events, error);
        QVERIFY2(view, qPrintable(error));
        view->Widget()->resize(600, 400);
        view->Widget()->show();
        view->ShowPage(Template("ie_header.html") + Template("ie_channel.html") + Template("ie_footer.html"),
                       Templates);
        QTRY_VERIFY_WITH_TIMEOUT(loaded, 30000);
        auto* browser = qobject_cast<QWebEngineView*>(view->Widget());
        QVERIFY(browser);
        QCOMPARE(Js(browser, QStringLiteral("matchMedia('(prefers-color-scheme: dark)').matches")).toBool(), true);
        // The page's own background, not the white a page without colours gets.
        const QString background =
            Js(browser, QStringLiteral("getComputedStyle(document.body).backgroundColor")).toString();
        const QStringList rgb = background.mid(background.indexOf(u'(') + 1).chopped(1).split(u',');
        QVERIFY2(rgb.size() == 3, qPrintable(background));
        for (const QString& part : rgb)
            QVERIFY2(part.trimmed().toInt() < 80, qPrintable(background));
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu");
    QApplication app(argc, argv);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
    dark.setColor(QPalette::Base, QColor(0x18, 0x18, 0x18));
    dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
    QApplication::setPalette(dark);
    YpLikeDarkTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "YpLikeDarkTest.moc"
