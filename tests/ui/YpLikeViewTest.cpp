// The YP-style page in a real browser, offscreen: made on first show, following the on-air view,
// and its links routed only when the user clicked them.
#include "ui/htmlview/YpLikeView.h"
#include "common/ukavoCommon.h"
#include "history/HistoryStore.h"
#include "net/RetrievalRecord.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "settings/IniFile.h"
#include "support/BrowserTestMain.h"
#include "support/NotifyTestSupport.h"
#include "support/TestHttpServer.h"
#include "support/TestProgram.h"
#include "ui/htmlview/BrowserPreload.h"
#include "ui/htmlview/HtmlView.h"
#include "ui/lists/ChannelActions.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <filesystem>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

using namespace kavo;
using namespace kavo::test;

namespace {

std::string Id(char c)
{
    return std::string(32, c);
}

std::string Line(const std::string& name, char id, int listeners)
{
    return name + "<>" + Id(id) + "<>10.0.0.1:7144<>http://example.com/" + name + "<>genre<>desc<>" +
           std::to_string(listeners) + "<>1<>300<>WMV<><><><><>%20<>1:05<>click<><>0\r\n";
}

class RecordingStarter : public ProcessStarter
{
public:
    std::vector<std::string> Started; // program and arguments, or "open <url>"
    StartResult Start(const Command& command, const std::string&, int) override
    {
        std::string line = command.Program;
        for (const std::string& arg : command.Arguments)
            line += " " + arg;
        Started.push_back(line);
        return {};
    }
    StartResult OpenWithDesktop(const std::string& url) override
    {
        Started.push_back("open " + url);
        return {};
    }
};

// Every channel block carries its links; the page's scripts try what only the user may do.
const char* Header = R"(<!DOCTYPE html><html><head><meta charset="Shift_JIS"><base target="_blank">
<style>a { display: block; height: 30px; } body { margin: 0; }</style></head><body>
<a id="sort" href="kavo://sort/?Listener">sort</a>
<a id="action" href="kavo://actn/?ActionMainVisualStatusBar">action</a>
<a id="hijack" href="kavo://actn/?ActionMainVisualStatusBar"
   onclick="window.open('kavo://actn/?ActionMainNotifyRefresh'); return false;">hijack</a>
<a id="outside" href="http://example.com/a?x=1&amp;y=2">outside</a>
<script>
addEventListener('load', function () {
    document.getElementById('action').click();
    window.open('kavo://actn/?ActionMainNotifyRefresh');
    location.href = 'http://example.com/by-script';
    document.body.dataset.loaded = 'yes';
});
</script>
)";
const char* Channel = R"(<a class="ch" id="ch-<hash/>" href="<stream/>"><channelname/></a>
<a id="menu-<hash/>" href="kavo://menu/?<hash/>">menu</a>
)";
const char* Footer = "<div style=\"height: 3000px\"></div></body></html>";

class Harness;

// What a harness starts with: settings, the page's templates and files beside them.
struct Setup
{
    // Built field by field: GCC 12 warns when designated initialisers leave members out.
    static Setup WithSettings(std::string settings)
    {
        Setup setup;
        setup.MoreSettings = std::move(settings);
        return setup;
    }
    static Setup Preloading()
    {
        Setup setup;
        setup.Preload = true;
        return setup;
    }

    std::string MoreSettings;
    std::string Header = ::Header;
    std::string Channel = ::Channel;
    std::string Footer = ::Footer;
    std::vector<std::pair<std::string, std::string>> TemplateFiles; // name, content
    bool Preload = false;
    std::function<void(Harness&)> BeforeStart;
};

class Harness : public TestProgram
{
public:
    TempFolder Folder;
    TestHttpServer Server;
    RecordingStarter Starter;

    explicit Harness(const Setup& setup = {})
    {
        namespace fs = std::filesystem;
        fs::create_directories(Folder.File("templates"));
        for (const char* name : {"notify.txt", "clipboard.txt", "popup.txt"})
            WriteFile(Folder.File(std::string("templates/") + name), "<channelname/>");
        WriteFile(Folder.File("templates/ie_header.html"), setup.Header);
        WriteFile(Folder.File("templates/ie_channel.html"), setup.Channel);
        WriteFile(Folder.File("templates/ie_footer.html"), setup.Footer);
        for (const auto& [name, content] : setup.TemplateFiles)
            WriteFile(Folder.File("templates/" + name), content);
        fs::copy(fs::path(KAVO_TEST_DATA) / ".." / ".." / "data" / "icons", Folder.File("icons"));
        WriteFile(Folder.File("kavo.ini"), "[YP]\nEnabled0=1\nTitle0=yp\nChType0=wmv\nUrl0=" + Server.Url("/yp/") +
                                               "\n[Etc]\nPeerCast=/nonexistent/peercast\nPlayerFileName=\n"
                                               "[Notify]\nRank2=4\nTTS=0\nSound=0\nChannel=0\n" +
                                               setup.MoreSettings);
        SetProgramFolder(Folder.Path());
        if (setup.BeforeStart)
            setup.BeforeStart(*this);
        Create(&Starter, false, setup.Preload);
        P->Start();
        P->Show();
        Main().resize(800, 600);
        QTRY_VERIFY(P->Common().Initialized);
    }
    ~Harness() { Free(); }

    bool Cycle(const std::string& index)
    {
        Server.Route("/yp/index.txt", HttpReply::Ok(index));
        // The once-a-minute rule of manual refreshes, run down fast.
        Refreshes().TimerReload.setInterval(1);
        const bool allowed = QTest::qWaitFor([this] { return Refreshes().ReloadCountdown() == 0; }, 5000);
        Refreshes().TimerReload.setInterval(1000);
        if (!allowed)
            return false;
        QSignalSpy finished(&Refreshes(), &RefreshCycle::CycleFinished);
        Refreshes().Refresh();
        return finished.wait(10000);
    }

    QWebEngineView* Browser() const
    {
        HtmlView* view = Main().YpLike().View();
        return view ? qobject_cast<QWebEngineView*>(view->Widget()) : nullptr;
    }

    QVariant Js(const QString& script) const
    {
        QVariant result;
        bool done = false;
        Browser()->page()->runJavaScript(script, [&](const QVariant& value) {
            result = value;
            done = true;
        });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(done, 10000); }();
        return result;
    }

    // Channel names in the page's order.
    std::string PageNames() const
    {
        return Js(QStringLiteral("Array.from(document.querySelectorAll('a.ch')).map(a => a.textContent).join(' ')"))
            .toString()
            .toStdString();
    }

    // Clicks an element of the page the way a user does.
    void Click(const QString& id, Qt::MouseButton button = Qt::LeftButton) const
    {
        const QVariantList box = Js(QStringLiteral("(r => [r.left + r.width / 2, r.top + r.height / 2])("
                                                   "document.getElementById('%1').getBoundingClientRect())")
                                        .arg(id))
                                     .toList();
        QVERIFY2(box.size() == 2, qPrintable(id));
        QWidget* target = Browser()->focusProxy();
        const QPoint at(box[0].toInt(), box[1].toInt());
        QTest::mouseMove(target, at);
        QTest::mousePress(target, button, {}, at);
        QTest::mouseRelease(target, button, {}, at);
    }

    // Shows the page and waits for its load.
    bool ShowAndLoad(QAction* trigger)
    {
        QSignalSpy loaded(&Main().YpLike(), &YpLikeView::Loaded);
        trigger->trigger();
        return loaded.wait(30000);
    }
};

std::string Names(const ChannelListView* view)
{
    std::string names;
    for (const TkavoChItem* channel : view->Model().Rows())
        names += (names.empty() ? "" : " ") + channel->ChannelName;
    return names;
}

} // namespace

class YpLikeViewTest : public QObject
{
    Q_OBJECT

private slots:
    void madeOnFirstShowAndFollowsTheOnAirView()
    {
        Harness h;
        QVERIFY(h.Cycle(Line("few", 'A', 3) + Line("zero", 'B', 0) + Line("many", 'C', 40) + Line("some", 'D', 9)));
        QVERIFY(!h.Main().YpLike().Created());
        QVERIFY(h.ShowAndLoad(h.Action("ActionTabYpLike")));
        // The default lite mode is off: every row of the view, in its order.
        QCOMPARE(h.PageNames(), Names(h.ListViewNow()));
        QCOMPARE(h.PageNames(), std::string("many some few zero"));

        // A rule change while the lite mode is off leaves the page alone; switching it on rebuilds.
        QSignalSpy loaded(&h.Main().YpLike(), &YpLikeView::Loaded);
        h.Action("ActionMainVisualYpLikeLite3")->trigger();
        QTest::qWait(300);
        QCOMPARE(loaded.count(), 0);
        QVERIFY(h.ShowAndLoad(h.Action("ActionMainVisualYpLikeLite0")));
        QCOMPARE(h.PageNames(), std::string("many"));
        QCOMPARE(h.Main().YpLike().Lite().Lite[3], true);
        QCOMPARE(h.Main().YpLike().Lite().Lite[4], false);
    }

    void userClicksAreRoutedAndScriptsAreNot()
    {
        Harness h;
        QVERIFY(h.Cycle(Line("few", 'A', 3) + Line("many", 'C', 40)));
        QVERIFY(h.ShowAndLoad(h.Action("ActionTabYpLike")));
        QTRY_COMPARE(h.Js(QStringLiteral("document.body.dataset.loaded")).toString(), QStringLiteral("yes"));
        QAction* statusBar = h.Action("ActionMainVisualStatusBar");
        QAction* notifyRefresh = h.Action("ActionMainNotifyRefresh");
        QSignalSpy statusBarRuns(statusBar, &QAction::triggered);
        QSignalSpy notifyRefreshRuns(notifyRefresh, &QAction::triggered);
        QCOMPARE(statusBarRuns.count(), 0);
        QVERIFY(h.Starter.Started.empty());

        // An action link runs its action once per click.
        h.Click(QStringLiteral("action"));
        QTRY_COMPARE(statusBarRuns.count(), 1);
        // A script that opens another link while the user clicks gets nothing.
        h.Click(QStringLiteral("hijack"));
        QTest::qWait(500);
        QCOMPARE(notifyRefreshRuns.count(), 0);
        QCOMPARE(statusBarRuns.count(), 1);

        // Sort links sort the on-air view (already by listeners: the first click inverts, the second
        // turns back); the page follows.
        QSignalSpy loaded(&h.Main().YpLike(), &YpLikeView::Loaded);
        h.Click(QStringLiteral("sort"));
        QTRY_VERIFY(loaded.count() >= 1);
        QTRY_COMPARE(h.PageNames(), std::string("few many"));
        QCOMPARE(Names(h.ListViewNow()), std::string("few many"));
        loaded.clear();
        h.Click(QStringLiteral("sort"));
        QTRY_VERIFY(loaded.count() >= 1);
        QTRY_COMPARE(h.PageNames(), std::string("many few"));

        // A playlist link plays its channel; any other link opens in the browser, entities decoded.
        h.Click(QStringLiteral("ch-") + QString::fromStdString(Id('C')));
        QTRY_COMPARE(h.Starter.Started.size(), std::size_t(1));
        QVERIFY2(h.Starter.Started[0].find("/pls/" + Id('C')) != std::string::npos, h.Starter.Started[0].c_str());
        h.Click(QStringLiteral("outside"));
        QTRY_COMPARE(h.Starter.Started.size(), std::size_t(2));
        QCOMPARE(h.Starter.Started[1], std::string("open http://example.com/a?x=1&y=2"));

        // A menu link selects the channel and opens the channel menu.
        h.Click(QStringLiteral("menu-") + QString::fromStdString(Id('A')));
        QMenu* menu = h.Main().Channels().PopupMenuListItem();
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(h.ListViewNow()->SelectedChannel()->ChannelName, std::string("few"));
        QVERIFY(h.Action("ActionLVYpLikeLite")->isVisible());
        menu->hide();

        // Nothing the page's scripts tried reached the program.
        QCOMPARE(notifyRefreshRuns.count(), 0);
        QCOMPARE(h.Starter.Started.size(), std::size_t(2));
        QCOMPARE(h.Browser()->url(), QUrl(QStringLiteral("kavo-page://page/page.html")));
    }

    // From the keyboard alone: on the page, Tab goes from link to link and Enter follows the focused
    // one as a click does.
    void linksAreReachedByTheKeyboard()
    {
        Harness h;
        QVERIFY(h.Cycle(Line("few", 'A', 3)));
        h.Main().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.Main()));
        QVERIFY(h.ShowAndLoad(h.Action("ActionTabYpLike")));
        QTRY_COMPARE(h.Js(QStringLiteral("document.body.dataset.loaded")).toString(), QStringLiteral("yes"));
        const QString channel = QStringLiteral("ch-") + QString::fromStdString(Id('A'));
        const QStringList order = {QStringLiteral("sort"), QStringLiteral("action"), QStringLiteral("hijack"),
                                   QStringLiteral("outside"), channel};
        // The keys go where the desktop sends them: the browser's own widget inside the page.
        const auto keyWidget = [&] {
            QWidget* proxy = h.Browser()->focusProxy();
            return proxy ? proxy : static_cast<QWidget*>(h.Browser());
        };
        for (const QString& id : order) {
            QTest::keyClick(keyWidget(), Qt::Key_Tab);
            QTRY_COMPARE(h.Js(QStringLiteral("document.activeElement.id")).toString(), id);
        }
        QTest::keyClick(keyWidget(), Qt::Key_Return);
        QTRY_COMPARE(h.Starter.Started.size(), std::size_t(1));
        QVERIFY2(h.Starter.Started[0].find("/pls/" + Id('A')) != std::string::npos, h.Starter.Started[0].c_str());
    }

    void temporaryFileModeAndScrollRestore()
    {
        Harness h(
            Setup::WithSettings("[Window]\nYpLikeModeFromStream=0\nYpLikeModeFromTempFile=1\nYpLikeRestorePos=1\n"));
        QVERIFY(h.Cycle(Line("few", 'A', 3) + Line("many", 'C', 40)));
        QVERIFY(h.ShowAndLoad(h.Action("ActionTabYpLike")));
        const QString temp = QString::fromStdString(h.Folder.File("templates/temp.html"));
        QCOMPARE(h.Browser()->url(), QUrl::fromLocalFile(temp));
        QCOMPARE(h.PageNames(), std::string("many few"));

        h.Js(QStringLiteral("document.scrollingElement.scrollTop = 700"));
        QCOMPARE(h.Js(QStringLiteral("document.scrollingElement.scrollTop")).toInt(), 700);
        // A refresh while the page is shown rebuilds it in place and keeps the position.
        QSignalSpy loaded(&h.Main().YpLike(), &YpLikeView::Loaded);
        QVERIFY(h.Cycle(Line("few", 'A', 50) + Line("many", 'C', 40)));
        QTRY_VERIFY(loaded.count() >= 1);
        QTRY_COMPARE(h.PageNames(), std::string("few many"));
        QCOMPARE(h.Browser()->url(), QUrl::fromLocalFile(temp));
        QTRY_COMPARE(h.Js(QStringLiteral("document.scrollingElement.scrollTop")).toInt(), 700);
    }

    // A YP that sends markup: shown as text, and none of it runs, not even through an attribute the
    // template left unquoted. The template's own scripts run (inline, from a file, as a handler);
    // their dialogs are not shown.
    void ypTextIsTextAndOnlyTheTemplatesScriptsRun()
    {
        Setup setup;
        setup.Header = R"html(<!DOCTYPE html><html><head><meta charset="Shift_JIS"><title>kavo page</title>
<script>
document.documentElement.dataset.inline = 'ran';
alert('from the template');
document.documentElement.dataset.confirmed = String(confirm('sure?'));
document.documentElement.dataset.prompted = String(prompt('name?'));
</script>
<script src="own.js"></script>
</head><body onload="document.body.dataset.handler = 'ran'">
<a id="own" href="javascript:void(document.body.dataset.link = 'ran')">own</a>
)html";
        setup.Channel = R"(<a class="ch" href="<contact/>"><channelname/></a>
<i class="d" title=<description/>>d</i><span class="g"><description/></span>
)";
        setup.Footer = "</body></html>";
        setup.TemplateFiles = {{"own.js", "document.documentElement.dataset.file = 'ran';"}};
        Harness h(setup);
        const std::string name = R"(<img src=x onerror="document.title='name'">)";
        QVERIFY(h.Cycle(name + "<>" + Id('A') + "<>10.0.0.1:7144<>javascript:document.title='contact'<>" +
                        "x onmouseover=document.title='genre'<><b>bold</b><script>document.title='desc'</script><>" +
                        "5<>1<>300<>WMV<><><><><>%20<>1:05<>click<><>0\r\n"));
        QVERIFY(h.ShowAndLoad(h.Action("ActionTabYpLike")));
        const auto js = [&](const char* script) { return h.Js(QString::fromLatin1(script)).toString(); };
        QTRY_COMPARE(js("document.body.dataset.handler"), QStringLiteral("ran"));
        QCOMPARE(js("document.documentElement.dataset.inline"), QStringLiteral("ran"));
        QCOMPARE(js("document.documentElement.dataset.file"), QStringLiteral("ran"));
        h.Js(QStringLiteral("document.getElementById('own').click()"));
        QTRY_COMPARE(js("document.body.dataset.link"), QStringLiteral("ran"));
        QCOMPARE(js("document.documentElement.dataset.confirmed"), QStringLiteral("false"));
        QCOMPARE(js("document.documentElement.dataset.prompted"), QStringLiteral("null"));

        // The YP's markup is text, and what would run from it does not.
        QCOMPARE(js("document.querySelector('a.ch').textContent"), QString::fromStdString(name));
        QCOMPARE(js("String(document.querySelectorAll('img, b, body script').length)"), QStringLiteral("0"));
        QVERIFY(js("document.querySelector('span.g').textContent").contains(QStringLiteral("<b>bold</b>")));
        h.Js(QStringLiteral("document.querySelector('i.d').dispatchEvent(new MouseEvent('mouseover'));"
                            "document.querySelector('a.ch').click();"));
        QTest::qWait(500);
        QCOMPARE(js("document.title"), QStringLiteral("kavo page"));
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY2(!(qobject_cast<QDialog*>(widget) && widget->isVisible()), qPrintable(widget->windowTitle()));
    }

    // Before the first refresh the page shows the previous run's channels, and its header their
    // totals and time, as the status bar does.
    void headerBeforeTheFirstRefreshDescribesThePreviousList()
    {
        const DateTime earlier = Now() - 1;
        Setup setup;
        setup.Header = R"(<p id="totals"><totalresults/></p><p id="time"><lastupdate/></p>)";
        setup.BeforeStart = [earlier](Harness& h) {
            HistoryStore history(h.Folder.File(HistoryStore::FileName));
            TkavoChList none;
            RetrievalRecord record;
            record.Time = earlier;
            YpAttempt& attempt = record.Attempts.emplace_back();
            attempt.Url = h.Server.Url("/yp/");
            attempt.Time = earlier;
            attempt.Outcome = YpOutcome::Fetched;
            attempt.Index = Line("old", 'A', 3) + Line("older", 'B', 5);
            attempt.ChList = &none;
            history.Record(record);
            history.Flush();
        };
        Harness h(setup);
        QVERIFY(h.Main().Views().ShowsPreviousList());
        QVERIFY(h.ShowAndLoad(h.Action("ActionTabYpLike")));
        QCOMPARE(h.PageNames(), std::string("older old"));
        QCOMPARE(h.Js(QStringLiteral("document.getElementById('totals').textContent")).toString(),
                 QStringLiteral("Results: 2 channels, 8 listeners, 2 relays, Last update: ** sec"));
        const auto* label = h.Main().findChild<QLabel*>(QStringLiteral("LabelPreviousList"));
        QVERIFY(label);
        const QString time = h.Js(QStringLiteral("document.getElementById('time').textContent")).toString();
        QCOMPARE(time, QString::fromStdString(FormatMonthDayTime(earlier)));
        QVERIFY2(label->text().contains(time), qPrintable(label->text()));
    }

    // The browser is made once the program has been left alone after start-up, not before; the first
    // showing then only builds the page, in the window as it was.
    void browserMadeAheadOnceIdle()
    {
        Harness h(Setup::Preloading());
        QVERIFY(!h.Main().YpLike().Created());
        QVERIFY(h.Cycle(Line("few", 'A', 3) + Line("many", 'C', 40)));
        QTRY_VERIFY_WITH_TIMEOUT(h.P->Preload().Finished(), 60000);
        QVERIFY(h.Main().YpLike().Created());
        QVERIFY(!h.Browser()->isVisible());
        const WId window = h.Main().winId();
        QVERIFY(h.ShowAndLoad(h.Action("ActionTabYpLike")));
        QCOMPARE(h.PageNames(), std::string("many few"));
        QVERIFY(h.Browser()->isVisible());
        QCOMPARE(h.Main().winId(), window);
    }
};

int main(int argc, char** argv)
{
    return BrowserTestMain<YpLikeViewTest>(argc, argv);
}

#include "YpLikeViewTest.moc"
