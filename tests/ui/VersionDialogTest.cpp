// The version dialog: its fields from the build and the list of libraries the program runs with.
#include "net/Pcraw.h"
#include "ui/dialogs/ukavoVersion.h"
#include "version.h"

#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

#include <dlfcn.h>
#include <zlib.h>

using namespace kavo;

namespace {

QStringList Shown(const TkavoVersion& dialog)
{
    return dialog.findChild<QPlainTextEdit*>(QStringLiteral("MemoComponents"))->toPlainText().split(QLatin1Char('\n'));
}

QString Label(const TkavoVersion& dialog, const char* name)
{
    return dialog.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

// Every line before the empty one is "name (version)"; then the empty line and the README line.
void VerifyShape(const QStringList& lines)
{
    QVERIFY(lines.size() >= 4);
    static const QRegularExpression component(QStringLiteral("^\\S.* \\([^()]*\\)$"));
    for (qsizetype i = 0; i + 2 < lines.size(); ++i)
        QVERIFY2(component.match(lines[i]).hasMatch(), qPrintable(lines[i]));
    QCOMPARE(lines[lines.size() - 2], QString());
    QVERIFY(lines.last().contains(QStringLiteral("README")));
}

} // namespace

class VersionDialogTest : public QObject
{
    Q_OBJECT

public:
    // Loading Qt WebEngine later wants this set before the application object exists.
    static void initMain() { QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); }

private slots:
    void listsTheLibrariesWithTheirVersions()
    {
        const QStringList lines = TkavoVersion::ComponentLines(std::nullopt);
        VerifyShape(lines);
        QCOMPARE(lines[0], QStringLiteral("Qt (%1)").arg(QString::fromLatin1(qVersion())));
        QVERIFY(lines.contains(QStringLiteral("zlib (%1)").arg(QString::fromLatin1(zlibVersion()))));
        for (const char* name : {"libcurl (", "PCRE2 (", "Duktape (", "SQLite (", "libcanberra (", "glibc iconv ("}) {
            const auto line = std::find_if(lines.begin(), lines.end(),
                                           [&](const QString& l) { return l.startsWith(QString::fromLatin1(name)); });
            QVERIFY2(line != lines.end(), name);
            QVERIFY2(!line->endsWith(QStringLiteral("()")), qPrintable(*line)); // each of them tells its version
        }
        // Not linked into this program, so not listed.
        QVERIFY(!lines.join(QLatin1Char('\n')).contains(QStringLiteral("WebEngine")));
    }

    void showsTheBuildAndThePcrawLibrary()
    {
        PcrawLibrary pcraw;
        QVERIFY(pcraw.Load(QFileInfo(QStringLiteral(TEST_PCRAW_LIBRARY)).path().toStdString()));
        QCOMPARE(pcraw.VersionText(), "0.3.0.0");
        const QStringList without = TkavoVersion::ComponentLines(std::nullopt);

        TkavoVersion dialog(QFont(QStringLiteral("Noto Sans CJK JP"), 9));
        dialog.SetApplicationTitle(QStringLiteral("kavo - テスト"));
        dialog.SetPcrawVersion(QString::fromStdString(pcraw.VersionText()));
        for (int showing = 0; showing < 2; ++showing) { // rebuilt, not appended to
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            const QStringList lines = Shown(dialog);
            VerifyShape(lines);
            QCOMPARE(lines[0], QStringLiteral("libpcraw.so (0.3.0.0)"));
            QCOMPARE(lines.mid(1), without);
            dialog.hide();
        }
        QCOMPARE(dialog.windowTitle(), QStringLiteral("kavo - テスト"));
        QCOMPARE(dialog.size(), QSize(298, 221));
        QCOMPARE(Label(dialog, "LabelProductName"), QStringLiteral("kavo"));
        QCOMPARE(Label(dialog, "LabelOriginalFilename"), QStringLiteral("kavo"));
        QVERIFY(Label(dialog, "LabelFileVersion").startsWith(QString::fromLatin1(version::Version)));
        QCOMPARE(Label(dialog, "LabelComments"), QString::fromLatin1(version::Description));
        QCOMPARE(TkavoVersion::ReadVersionField(QStringLiteral("CompanyName")), QString());

        dialog.SetPcrawVersion(std::nullopt);
        dialog.show();
        QCOMPARE(Shown(dialog), without);
    }

    // Once the program runs with Qt WebEngine, the list names it with its Chromium.
    void namesQtWebEngineWhenLoaded()
    {
        void* library = ::dlopen("libQt6WebEngineCore.so.6", RTLD_LAZY | RTLD_GLOBAL);
        if (!library)
            QSKIP("Qt WebEngine is not installed");
        const QStringList lines = TkavoVersion::ComponentLines(std::nullopt);
        VerifyShape(lines);
        QVERIFY2(lines[1].startsWith(QStringLiteral("Qt WebEngine (6.")), qPrintable(lines[1]));
        QVERIFY2(lines[1].contains(QStringLiteral(", Chromium ")), qPrintable(lines[1]));
    }
};

QTEST_MAIN(VersionDialogTest)
#include "VersionDialogTest.moc"
