#include "common/ukavoCommon.h"
#include "history/HistoryStore.h"
#include "history/LastList.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "settings/IniFile.h"
#include "support/Modal.h"
#include "support/NotifyTestSupport.h"
#include "support/TestHttpServer.h"
#include "support/TestProgram.h"
#include "ui/app/DebugLog.h"
#include "ui/app/InputBox.h"
#include "ui/app/SessionEnd.h"
#include "ui/app/SingleInstance.h"
#include "ui/dialogs/ukavoConfig.h"
#include "ui/lists/ChannelActions.h"
#include "ui/lists/ChannelListView.h"
#include "ui/lists/ChannelModel.h"
#include "ui/lists/ChannelViews.h"
#include "ui/lists/EmptyState.h"
#include "ui/window/MainFrame.h"
#include "ui/window/RefreshCycle.h"
#include "ui/window/RefreshFeedback.h"
#include "ui/window/SettingsHolder.h"
#include "ui/window/ShutdownSequence.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <array>
#include <csignal>
#include <filesystem>
#include <memory>

using namespace kavo;
using namespace kavo::test;

namespace {

struct Ch
{
    const char* Name;
    int Listeners;
    const char* Type = "WMV";
};

std::string Id(const std::string& name)
{
    char id[40];
    std::snprintf(id, sizeof id, "%032X",
                  static_cast<unsigned>(name.front()) * 1000 + static_cast<unsigned>(name.size()));
    return id;
}

std::string Index(std::initializer_list<Ch> channels)
{
    std::string text;
    for (const Ch& c : channels)
        text += std::string(c.Name) + "<>" + Id(c.Name) + "<>10.0.0.1:7144<>http://example.com/" + c.Name +
                "<>genre<>desc<>" + std::to_string(c.Listeners) + "<>1<>300<>" + c.Type +
                "<><><><><>%20<>1:05<>click<><>0\r\n";
    return text;
}

std::string Names(const ChannelListView* view)
{
    std::string names;
    for (const TkavoChItem* channel : view->Model().Rows())
        names += (names.empty() ? "" : " ") + channel->ChannelName;
    return names;
}

class RecordingStarter : public ProcessStarter
{
public:
    std::vector<Command> Started;
    std::vector<std::string> Opened;
    StartResult Start(const Command& command, const std::string&, int) override
    {
        Started.push_back(command);
        return {};
    }
    StartResult OpenWithDesktop(const std::string& target) override
    {
        Opened.push_back(target);
        return {};
    }
};

// The record behind a row, for a test to set up its fields in place. The program never writes
// through a view: its marks go through the list's owner.
TkavoChItem& Arrange(const TkavoChItem* channel)
{
    return const_cast<TkavoChItem&>(*channel);
}

// The names of the listed actions that are enabled, without "ActionLV".
QString EnabledActions(const ActionTable& actions, std::initializer_list<const char*> names)
{
    QStringList enabled;
    for (const char* name : names)
        if (actions.Find(QStringLiteral("ActionLV") + QLatin1String(name))->isEnabled())
            enabled.append(QLatin1String(name));
    return enabled.join(QLatin1Char(' '));
}

// A program folder with templates, icons and settings that fetch one YP of a local server; the
// channel notification text is the channel's name.
class Harness : public TestProgram
{
public:
    TempFolder Folder;
    TestHttpServer Server;
    std::shared_ptr<ManualClock> Clock = std::make_shared<ManualClock>(DateTimeFromTime(std::time(nullptr)));
    RecordingStarter Starter;

    explicit Harness(const std::string& moreSettings = "")
    {
        namespace fs = std::filesystem;
        fs::create_directories(Folder.File("templates"));
        for (const char* name : {"notify.txt", "clipboard.txt", "ie_header.html", "ie_channel.html", "ie_footer.html"})
            WriteFile(Folder.File(std::string("templates/") + name), "<channelname/>");
        WriteFile(Folder.File("templates/popup.txt"), "<channelname/>\r\n  \r\n<listener/>");
        fs::copy(fs::path(KAVO_TEST_DATA) / ".." / ".." / "data" / "icons", Folder.File("icons"));
        WriteFile(Folder.File("kavo.ini"), "[YP]\nEnabled0=1\nTitle0=yp\nChType0=wmv|raw\nUrl0=" + Server.Url("/yp/") +
                                               "\n[Etc]\nPeerCast=/nonexistent/peercast\n"
                                               "[Notify]\nBallonTimer=1\nRank2=4\nPosition=0\nTTS=0\nSound=0\n"
                                               "[Favorite]\nEnabled0=1\nTitle0=hide\nWord0=Hidden\nChannel0=1\n"
                                               "ListDisable0=1\n" +
                                               moreSettings);
        SetProgramFolder(Folder.Path());
        SetClock(Clock);
    }
    ~Harness()
    {
        Free();
        SetClock(nullptr);
    }

    void Create() { TestProgram::Create(&Starter); }

    void Start()
    {
        Create();
        P->Start();
        P->Show();
        QTRY_VERIFY(P->Common().Initialized);
    }

    // Serves the index and runs one cycle: manual, or automatic 11 minutes later (past the
    // per-YP throttle and the manual countdown's reach).
    bool Cycle(const std::string& index, bool manual)
    {
        Server.Route("/yp/index.txt", HttpReply::Ok(index));
        QSignalSpy finished(&Refreshes(), &RefreshCycle::CycleFinished);
        if (manual) {
            Refreshes().Refresh();
        } else {
            Clock->AddMinutes(11);
            Action("ActionMainModeAuto")->setChecked(true);
            Refreshes().RefreshTimer();
        }
        return finished.wait(10000);
    }

    int Fetches() const { return static_cast<int>(Server.RequestsFor("/yp/index.txt").size()); }

    // The refreshes read the local server's status page here, which answers with no relays.
    void WatchLocalServer()
    {
        P->Setting().URL.LocalChInfo = true;
        P->Setting().URL.LocalChInfoAddr = Server.Url("/admin?cmd=viewxml");
        Server.Route("/admin", HttpReply::Ok("<peercast><channels_relayed/></peercast>"));
    }
};

TkavoChItem& AddChannel(TkavoChList& list, const char* name, int no, TkavoDiff diff, int listeners, int bitrate,
                        const char* broadcast, const char* yp, const char* time)
{
    auto& c = list.Add(std::make_unique<TkavoChItem>());
    c.ChannelName = name;
    c.No = no;
    c.Diff = diff;
    c.Listeners = listeners;
    c.BitrateValue = bitrate;
    c.BroadcastTime = broadcast;
    c.YpAddr = yp;
    int month = 0, day = 0, hour = 0, minute = 0;
    std::sscanf(time, "%d/%d %d:%d", &month, &day, &hour, &minute);
    std::tm tm{};
    tm.tm_year = 124;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    c.TimeStamp = DateTimeFromTime(std::mktime(&tm));
    return c;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    // With no YP enabled the on-air list says so, and its button opens the settings on the "YP"
    // page; a refresh then has nothing to fetch and the text stays until a YP is enabled.
    void firstStartSaysNoYpIsEnabled()
    {
        Harness h;
        WriteFile(h.Folder.File("kavo.ini"), "[YP]\nEnabled0=0\nTitle0=yp\nUrl0=" + h.Server.Url("/yp/") +
                                                 "\n[Etc]\nPeerCast=/nonexistent/peercast\n");
        h.Start();
        EmptyState& empty = h.Main().Feedback().EmptyState();
        QVERIFY(empty.isVisible());
        QVERIFY2(empty.Text().contains(QString::fromUtf8("有効なYPがありません")), qPrintable(empty.Text()));
        QVERIFY(empty.Button()->isVisible());

        TkavoConfig::LastPageIndex = 3;
        QString page;
        WhenModal([&](QWidget* dialog) {
            auto* pages = dialog->findChild<QTabWidget*>(QStringLiteral("PageControl"));
            page = pages ? pages->tabText(pages->currentIndex()) : QString();
            static_cast<QDialog*>(dialog)->reject();
        });
        QTest::mouseClick(empty.Button(), Qt::LeftButton);
        QCOMPARE(page, QStringLiteral("YP"));

        QVERIFY(h.Cycle("", true));
        QCOMPARE(h.Fetches(), 0);
        QVERIFY(empty.isVisible());
        WriteFile(h.Folder.File("kavo.ini"), "[YP]\nEnabled0=1\nTitle0=yp\nUrl0=" + h.Server.Url("/yp/") + "\n");
        h.P->Settings().Reload();
        QVERIFY(empty.isHidden());
    }

    // A refresh says in the status bar which YP it fetches; the first one says "更新中…" in the
    // still empty list.
    void refreshSaysWhatItFetches()
    {
        Harness h;
        WriteFile(h.Folder.File("kavo.ini"), "[YP]\nEnabled0=1\nTitle0=first\nChType0=.+\nUrl0=" + h.Server.Url("/a/") +
                                                 "\nEnabled1=0\nTitle1=off\nUrl1=" + h.Server.Url("/off/") +
                                                 "\nEnabled2=1\nTitle2=second\nChType2=.+\nUrl2=" +
                                                 h.Server.Url("/b/") + "\n[Etc]\nPeerCast=/nonexistent/peercast\n");
        h.Server.Route("/a/index.txt", HttpReply::Ok(Index({{"A", 5}})));
        h.Server.Route("/b/index.txt", HttpReply::Ok(Index({{"B", 7}})));
        h.Start();
        EmptyState& empty = h.Main().Feedback().EmptyState();
        // Before the first refresh of the run it says how to start one.
        QVERIFY2(empty.Text().contains(QString::fromUtf8("まだ一覧を取得していません")) &&
                     empty.Text().contains(QString::fromUtf8("「更新」ボタン")),
                 qPrintable(empty.Text()));

        QSignalSpy status(&h.Main().Feedback(), &RefreshFeedback::StatusChanged);
        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);
        h.Refreshes().Refresh();
        QCOMPARE(empty.Text(), QString::fromUtf8("更新中…"));
        QVERIFY(finished.wait(10000));
        QStringList said;
        for (const QList<QVariant>& change : status)
            said.append(change.at(0).toString());
        QCOMPARE(said, QStringList({QString::fromUtf8("更新中…"), QString::fromUtf8("更新中 1/2: first"),
                                    QString::fromUtf8("更新中 2/2: second"), QString()}));
        QVERIFY(empty.isHidden());
        QCOMPARE(h.ListViewNow()->Model().rowCount(), 2);
    }

    // A YP ticked in the settings dialog is fetched as OK closes it; Cancel and OK with the YP
    // unchanged keep its ended list and its marks, so the next refresh marks what is new.
    void dialogsKeepTheListsAndANewYpIsFetchedAtOnce()
    {
        Harness h;
        WriteFile(h.Folder.File("kavo.ini"), "[YP]\nEnabled0=0\nTitle0=yp\nChType0=.+\nUrl0=" + h.Server.Url("/yp/") +
                                                 "\n[Etc]\nPeerCast=/nonexistent/peercast\n");
        h.Server.Route("/yp/index.txt", HttpReply::Ok(Index({{"A", 5}, {"B", 3}})));
        h.Start();
        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);
        WhenModal([](QWidget* dialog) {
            dialog->findChild<QListWidget*>(QStringLiteral("ypListBox"))->item(0)->setCheckState(Qt::Checked);
            static_cast<QDialog*>(dialog)->accept();
        });
        h.Action("ActionMainConfig")->trigger();
        QVERIFY(finished.count() == 1 || finished.wait(10000));
        QCOMPARE(h.Fetches(), 1);
        QCOMPARE(Names(h.ListViewNow()), std::string("A B"));

        QVERIFY(h.Cycle(Index({{"A", 5}}), false)); // B ends
        QCOMPARE(Names(h.ListViewLog()), std::string("B"));
        const std::array<std::pair<const char*, bool>, 3> steps{
            {{"ActionMainConfig", false}, {"ActionMainFavorite", false}, {"ActionMainConfig", true}}};
        for (const auto& [action, ok] : steps) {
            WhenModal([ok = ok](QWidget* dialog) {
                if (ok)
                    static_cast<QDialog*>(dialog)->accept();
                else
                    static_cast<QDialog*>(dialog)->reject();
            });
            h.Action(action)->trigger();
            QCOMPARE(Names(h.ListViewLog()), std::string("B"));
        }
        QCOMPARE(h.P->Net().Yps()[0].ChListLog.Count(), 1);
        QVERIFY(h.Cycle(Index({{"A", 5}, {"C", 1}}), false));
        QCOMPARE(Names(h.ListViewLog()), std::string("B"));
        for (const TkavoChItem* channel : h.ListViewNow()->Model().Rows())
            QCOMPARE(channel->Diff, channel->ChannelName == "C" ? TkavoDiff::New : TkavoDiff::None);
        QCOMPARE(h.Fetches(), 3); // the dialogs themselves fetched nothing
    }

    // Input boxes answer in Japanese, with Qt's own translations, and are wide enough for their
    // Japanese captions.
    void inputBoxesAreJapaneseAndUncut()
    {
        QTranslator* japanese = InstallQtJapanese(*QCoreApplication::instance());
        QVERIFY2(japanese, "qt6-translations-l10n is not installed");
        QString cancel;
        bool wideEnough = false;
        WhenModal([&](QWidget* dialog) {
            if (auto* buttons = dialog->findChild<QDialogButtonBox*>())
                cancel = buttons->button(QDialogButtonBox::Cancel)->text();
            const QFontMetrics metrics(dialog->font());
            wideEnough =
                dialog->width() > metrics.horizontalAdvance(dialog->windowTitle()) + 60 &&
                dialog->width() > metrics.horizontalAdvance(QString::fromUtf8("最小値,最大値を入力してください"));
            static_cast<QDialog*>(dialog)->reject();
        });
        bool ok = true;
        const QString answer = GetInputText(nullptr, QString::fromUtf8("YP風表示->軽量モード->カスタム(リスナ)"),
                                            QString::fromUtf8("最小値,最大値を入力してください"), QLineEdit::Normal,
                                            QStringLiteral("1,2"), &ok);
        QCoreApplication::removeTranslator(japanese);
        delete japanese;
        QVERIFY(!ok);
        QVERIFY(answer.isEmpty());
        QCOMPARE(cancel, QString::fromUtf8("キャンセル"));
        QVERIFY(wideEnough);
    }

    // Message boxes carry the application title; an empty one stands for "kavo".
    void messageBoxesCarryTheApplicationTitle_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("title");
        QTest::newRow("default") << QString() << QStringLiteral("kavo");
        QTest::newRow("empty") << QStringLiteral("ApplicationTitle=\n") << QStringLiteral("kavo");
        QTest::newRow("own") << QString::fromUtf8("ApplicationTitle=かぼ\n") << QString::fromUtf8("かぼ");
    }

    void messageBoxesCarryTheApplicationTitle()
    {
        QFETCH(QString, setting);
        QFETCH(QString, title);
        Harness h;
        WriteFile(h.Folder.File("kavo.ini"), Sjis("[Etc]\nPeerCast=/nonexistent/peercast\n" + setting.toStdString()));
        h.Start();
        QCOMPARE(h.Main().windowTitle(), title);
        QString boxTitle;
        QString boxText;
        WhenModal([&](QWidget* box) {
            boxTitle = box->windowTitle();
            boxText = static_cast<QMessageBox*>(box)->text();
            static_cast<QMessageBox*>(box)->accept();
        });
        h.Action("ActionMainHelpInitDMS")->trigger();
        QCOMPARE(boxText, QString::fromUtf8("成功"));
        QCOMPARE(boxTitle, title);
    }

    // SIGTERM closes the window as its close box does: the refresh under way ends first and the
    // window's options are written. A second request finds the window closed.
    void endSignalCloseWaitsForTheRefresh()
    {
        Harness h;
        h.Start();
        SessionEnd sessionEnd(h.Main());
        HttpReply slow = HttpReply::Ok(Index({{"A", 5}}));
        slow.Delay = std::chrono::milliseconds(500);
        h.Server.Route("/yp/index.txt", slow);
        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);
        QSignalSpy closed(&h.P->Shutdown(), &ShutdownSequence::ClosedDown);
        h.Refreshes().Refresh();
        QVERIFY(h.P->Common().Busy);
        QVERIFY(ReadFile(h.Folder.File("kavo.ini")).find("[Window]") == std::string::npos);
        ::raise(SIGTERM);
        QVERIFY(closed.wait(10000));
        QCOMPARE(finished.count(), 1);
        QVERIFY(ReadFile(h.Folder.File("kavo.ini")).find("[Window]") != std::string::npos);
        ::raise(SIGINT);
        QTest::qWait(100);
        QCOMPARE(closed.count(), 1);
    }

    // Every comparison of the column table, both directions where the direction is the point.
    void sortingFollowsTheColumnTable()
    {
        TkavoYpList yps;
        yps.Add(std::make_unique<TkavoYpItem>()).Url = "http://yp1/";
        yps.Add(std::make_unique<TkavoYpItem>()).Url = "http://yp2/";
        TkavoChList list;
        AddChannel(list, "beta", 10, TkavoDiff::New, 5, 300, "1:05", "http://yp2/", "01/02 03:04");
        AddChannel(list, "alpha", 2, TkavoDiff::None, 50, 500, "30", "http://yp1/", "12/31 23:00");
        AddChannel(list, "gamma", 7, TkavoDiff::New, 1, 100, "1:00:00", "http://yp3/", "01/10 00:00");
        ChannelModel model(nullptr, &yps);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::vector<std::string> captions;
        for (const char* id :
             {"Diff", "No", "ChannelName", "Listener", "Bitrate", "TimeStamp", "BroadcastTime", "YpAddr"})
            captions.push_back(ColumnCaptionById(id));
        model.SetColumns(captions);

        struct Case
        {
            const char* Id;
            bool Ascending;
            const char* Expected;
        };
        const Case cases[] = {
            {"No", true, "alpha gamma beta"}, // 2 before 10: numbers, not texts
            {"No", false, "beta gamma alpha"},
            {"Diff", true, "alpha gamma beta"},     // state, then fewer listeners
            {"Listener", true, "alpha beta gamma"}, // ascending puts the most listeners first
            {"Listener", false, "gamma beta alpha"},
            {"Bitrate", true, "gamma beta alpha"},
            {"TimeStamp", true, "beta gamma alpha"}, // the "mm/dd hh:nn" text, not the date
            {"BroadcastTime", true, "alpha beta gamma"},
            {"YpAddr", true, "gamma alpha beta"}, // unknown YP first, then configured order
            {"ChannelName", false, "gamma beta alpha"},
        };
        for (const Case& c : cases) {
            model.Fill(list);
            model.SortByColumn(model.FindColumn(ColumnCaptionById(c.Id)), c.Ascending);
            std::string names;
            for (const TkavoChItem* channel : model.Rows())
                names += (names.empty() ? "" : " ") + channel->ChannelName;
            QVERIFY2(names == c.Expected, qPrintable(QStringLiteral("%1 %2: %3")
                                                         .arg(QLatin1String(c.Id))
                                                         .arg(QLatin1String(c.Ascending ? "ascending" : "descending"))
                                                         .arg(QString::fromStdString(names))));
        }
    }

    void cellTexts()
    {
        TkavoChItem c;
        c.ChannelName = "A&amp;B";
        c.Genre = "g";
        c.Description = "d &lt;x&gt;";
        c.Playing = "Playing: song Playing: two";
        c.Comment = "[c]";
        c.Listeners = 12;
        c.Relays = 3;
        struct Case
        {
            const char* Id;
            std::string Expected;
        };
        const Case cases[] = {
            {"ChannelName", "A&B"},          {"Description", "[g - d <x>] Playing: song Playing: two [c]"},
            {"Listener", "12 / 3"},          {"Playing", "song two [c]"},
            {"Description2", "[g - d <x>]"},
        };
        for (const Case& k : cases)
            QVERIFY2(CellText(c, ColumnKindOfCaption(ColumnCaptionById(k.Id))) == k.Expected, k.Id);
        TkavoChItem empty;
        QCOMPARE(CellText(empty, ColumnKind::Playing), std::string(" "));
        QCOMPARE(CellText(empty, ColumnKind::Description), std::string());
    }

    // Without its state icons the program cannot show its lists: start-up stops with the file named.
    void missingStateIconStopsStartUp()
    {
        Harness h;
        std::filesystem::remove(h.Folder.File("icons/New.ico"));
        h.Create();
        try {
            h.P->Start();
            QFAIL("start-up went on");
        } catch (const StartupError& error) {
            QVERIFY2(std::string(error.what()).find("icons/New.ico") != std::string::npos, error.what());
        }
    }

    // Two refreshes: sorted by listeners with "raw" channels last, hidden channels nowhere, ended
    // channels in the log, new channels notified in display order.
    void refreshesFillBothViews()
    {
        Harness h;
        h.Start();
        QAbstractItemModelTester nowTester(&h.ListViewNow()->Model(),
                                           QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester logTester(&h.ListViewLog()->Model(),
                                           QAbstractItemModelTester::FailureReportingMode::QtTest);
        const auto index1 = Index({{"A", 5}, {"B", 50}, {"C", 20, "RAW"}, {"D", 8, "raw"}, {"Hidden1", 99}});
        QVERIFY(h.Cycle(index1, true));
        QCOMPARE(QString::fromStdString(Names(h.ListViewNow())), QStringLiteral("B A C D"));
        QCOMPARE(Names(h.ListViewLog()), std::string());
        QVERIFY(!h.P->Common().Busy);
        QVERIFY(h.Action("ActionMainRefresh")->isEnabled());
        QVERIFY(h.Main().statusBar()->toolTip().startsWith(QStringLiteral("Results:")));
        h.P->NotifyMgr().Abort();
        h.TrayMessages.clear();

        const auto index2 =
            Index({{"A", 5}, {"C", 20, "RAW"}, {"E", 30}, {"F", 10}, {"Hidden2", 99}, {"G", 30, "Raw"}});
        QVERIFY(h.Cycle(index2, false));
        QCOMPARE(Names(h.ListViewNow()), std::string("E F A G C"));
        const std::string log = Names(h.ListViewLog());
        QVERIFY2(log == "B D" || log == "D B", log.c_str());
        QTRY_VERIFY_WITH_TIMEOUT(!h.TrayMessages.isEmpty(), 5000);
        const QString shown = h.TrayMessages.join(QLatin1Char('|'));
        QVERIFY2(shown.indexOf(QLatin1Char('E')) >= 0 &&
                     shown.indexOf(QLatin1Char('E')) < shown.indexOf(QLatin1Char('F')) &&
                     shown.indexOf(QLatin1Char('F')) < shown.indexOf(QLatin1Char('G')),
                 qPrintable(shown));
        QVERIFY2(!shown.contains(QStringLiteral("Hidden")), qPrintable(shown));

        // Clicks: the sorted column inverts its flag (fewest first), another column sorts ascending.
        ChannelListView* now = h.ListViewNow();
        h.Main().Views().ColumnClick(now, now->Model().FindColumn(ColumnCaptionById("Listener")));
        QCOMPARE(Names(now), std::string("A F E C G"));
        h.Main().Views().ColumnClick(now, now->Model().FindColumn(ColumnCaptionById("Listener")));
        QCOMPARE(Names(now), std::string("E F A G C"));
        h.Main().Views().ColumnClick(now, now->Model().FindColumn(ColumnCaptionById("No")));
        QCOMPARE(Names(now), std::string("A E F C G"));
    }

    // The selected channel is found again by its ID after a refill, wherever it moved; an ended
    // one leaves no selection.
    void selectionSurvivesRefresh()
    {
        Harness h;
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}, {"B", 50}}), true));
        ChannelListView* now = h.ListViewNow();
        now->SelectRow(1);
        QCOMPARE(now->SelectedChannel()->ChannelName, std::string("A"));
        QCOMPARE(h.Main().Frame().StatusPanel(2), QStringLiteral("http://example.com/A"));

        QVERIFY(h.Cycle(Index({{"E", 80}, {"B", 50}, {"A", 5}}), false));
        QCOMPARE(now->SelectedRow(), 2);
        QCOMPARE(now->SelectedChannel()->ChannelName, std::string("A"));

        QVERIFY(h.Cycle(Index({{"E", 80}, {"B", 50}}), false));
        QCOMPARE(now->SelectedRow(), -1);
        QCOMPARE(h.Main().Frame().StatusPanel(2), QString());
    }

    // The channel actions follow the current view's selection; copy renders the clipboard template.
    void contextMenuActsOnSelection()
    {
        Harness h;
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        const char* actions[] = {"ActionLVPlay",     "ActionLVPlayDirect",     "ActionLVOpenContact",
                                 "ActionLVOpenChat", "ActionLVOpenStatistics", "ActionLVCopy"};
        h.Main().Channels().PrepareListMenu();
        for (const char* name : actions)
            QVERIFY2(!h.Action(name)->isEnabled(), name);

        h.ListViewNow()->SelectRow(0);
        h.Main().Channels().PrepareListMenu();
        for (const char* name : {"ActionLVPlay", "ActionLVOpenContact", "ActionLVCopy"})
            QVERIFY2(h.Action(name)->isEnabled(), name);
        QGuiApplication::clipboard()->clear();
        h.Action("ActionLVCopy")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("A"));
    }

    // What the context menu enables for the selected channel, the page and the local server.
    void contextMenuPreparationRules()
    {
        Harness h;
        h.Start();
        h.WatchLocalServer();
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        ChannelListView* now = h.ListViewNow();
        const auto enabled = [&] {
            h.Main().Channels().PrepareListMenu();
            return EnabledActions(h.Main().Actions(), {"Play", "PlayDirect", "OpenContact", "OpenChat",
                                                       "OpenStatistics", "NotifyTest", "Copy", "Clear", "YpLikeLite",
                                                       "AdminCmdStop", "AdminCmdBump", "ViewRelayInfo", "Change"});
        };
        struct Case
        {
            const char* Name;
            std::function<void(TkavoChItem&, TkavoSetting&)> Set;
            const char* Enabled;
        };
        const Case cases[] = {
            {"stream and contact only", [](TkavoChItem&, TkavoSetting&) {}, "Play OpenContact NotifyTest Copy"},
            {"every URL",
             [](TkavoChItem& c, TkavoSetting&) { c.DirectStreamURL = c.ChatURL = c.StatisticsURL = "http://x/"; },
             "Play PlayDirect OpenContact OpenChat OpenStatistics NotifyTest Copy"},
            {"no stream URL", [](TkavoChItem& c, TkavoSetting&) { c.StreamURL.clear(); },
             "OpenContact NotifyTest Copy"},
            {"known to the watched local server",
             [](TkavoChItem& c, TkavoSetting& s) {
                 s.URL.LocalChInfo = true;
                 c.LocalStatus = "RECEIVE";
             },
             "Play OpenContact NotifyTest Copy AdminCmdStop AdminCmdBump ViewRelayInfo"},
            {"local server not watched", [](TkavoChItem& c, TkavoSetting&) { c.LocalStatus = "RECEIVE"; },
             "Play OpenContact NotifyTest Copy"},
            {"unknown to the local server", [](TkavoChItem&, TkavoSetting& s) { s.URL.LocalChInfo = true; },
             "Play OpenContact NotifyTest Copy"},
            {"changed texts", [](TkavoChItem& c, TkavoSetting&) { c.Diff = TkavoDiff::Change; },
             "Play OpenContact NotifyTest Copy Change"},
            // A YP's information line: its /pls/000…0 is no stream.
            {"no channel ID",
             [](TkavoChItem& c, TkavoSetting&) {
                 c.Hash = NoHash;
                 c.DirectStreamURL = "http://x/";
             },
             "OpenContact NotifyTest Copy"},
        };
        now->SelectRow(0);
        TkavoChItem& channel = Arrange(now->SelectedChannel());
        TkavoChItem original;
        original.Assign(channel);
        original.StreamURL = "http://localhost:7144/pls/" + Id("A");
        original.ContactURL = "http://example.com/A";
        original.DirectStreamURL = original.ChatURL = original.StatisticsURL = original.LocalStatus = "";
        original.Diff = TkavoDiff::None;
        for (const Case& c : cases) {
            channel.Assign(original);
            h.P->Setting().URL.LocalChInfo = false;
            c.Set(channel, h.P->Setting());
            QVERIFY2(enabled() == QLatin1String(c.Enabled),
                     qPrintable(QLatin1String(c.Name) + QLatin1String(": ") + enabled()));
        }
        QVERIFY(!h.Action("ActionLVYpLikeLite")->isVisible());

        // While a cycle runs the local server's channels are about to change: no admin items.
        channel.Assign(original);
        h.P->Setting().URL.LocalChInfo = true;
        channel.LocalStatus = "RECEIVE";
        HttpReply slow = HttpReply::Ok(Index({{"A", 5}}));
        slow.Delay = std::chrono::milliseconds(800);
        h.Server.Route("/yp/index.txt", slow);
        h.Server.Route("/admin", HttpReply::Error(404, "Not Found")); // meanwhile the server went away
        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);
        h.Clock->AddMinutes(11);
        h.Action("ActionMainModeAuto")->setChecked(true);
        h.Refreshes().RefreshTimer();
        QCOMPARE(enabled(), QStringLiteral("Play OpenContact NotifyTest Copy"));
        h.Server.Route("/admin", HttpReply::Error(404, "Not Found")); // meanwhile the server went away
        QVERIFY(finished.wait(10000));

        // The channel's earlier mark stays, but a server that did not answer takes no command.
        now->SelectRow(0);
        Arrange(now->SelectedChannel()).LocalStatus = "RECEIVE";
        h.Main().Channels().PrepareListMenu();
        for (const char* admin : {"ActionLVAdminCmdStop", "ActionLVAdminCmdBump", "ActionLVViewRelayInfo"})
            QVERIFY2(!h.Action(admin)->isEnabled(), admin);

        now->clearSelection();
        QCOMPARE(enabled(), QString());
        h.Action("ActionTabLog")->trigger();
        QCOMPARE(enabled(), QStringLiteral("Clear"));
        h.Action("ActionTabYpLike")->trigger();
        QCOMPARE(enabled(), QStringLiteral("YpLikeLite"));
        QVERIFY(h.Action("ActionLVYpLikeLite")->isVisible());
    }

    // The change menu shows what changed as "previous -> current", entities decoded, literally.
    void changeMenuShowsPreviousAndCurrent()
    {
        Harness h;
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        h.ListViewNow()->SelectRow(0);
        TkavoChItem& channel = Arrange(h.ListViewNow()->SelectedChannel());
        channel.Diff = TkavoDiff::Change;
        channel.PrevPlaying = "old &amp; gold";
        channel.Playing = "new";
        channel.PrevComment = channel.Comment;
        channel.PrevGenre = channel.Genre;
        channel.PrevDescription = channel.Description;
        h.Main().Channels().PrepareListMenu();
        QCOMPARE(h.Action("ActionLVChangePlaying")->text(), QStringLiteral("old && gold -> new"));
        QCOMPARE(h.Action("ActionLVChangeComment")->text(), QString());
        QCOMPARE(h.Action("ActionLVChangeGenreAndDesc")->text(), QString());
    }

    // Blank lines of the clipboard template are dropped, and no line ends in blanks.
    void copyDropsBlankLines()
    {
        Harness h;
        WriteFile(h.Folder.File("templates/clipboard.txt"), "<channelname/>  \r\n\r\n \t \r\n[<channelname/>]\r\n");
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        h.ListViewNow()->SelectRow(0);
        h.Main().Channels().CopySelected();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("A\r\n[A]"));
    }

    // A channel that will probably not play shows a mark with its reason, and plays only when the
    // user says so; "do not ask again" goes into the settings.
    void doubtfulChannelIsMarkedAndPlayedOnlyWhenConfirmed()
    {
        Harness h;
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        ChannelListView* now = h.ListViewNow();
        now->SelectRow(0);
        Arrange(now->SelectedChannel()).Bitrate = "0";
        const ChannelModel& model = now->Model();
        bool marked = false;
        for (int column = 0; column < model.columnCount(); ++column)
            marked = marked ||
                     model.data(model.index(0, column), Qt::DisplayRole).toString().startsWith(QString::fromUtf8("※"));
        QVERIFY(marked);
        QVERIFY(model.data(model.index(0, 0), Qt::ToolTipRole).toString().contains(QStringLiteral("0 kbps")));

        const auto plays = [&] { return h.Starter.Started.size() + h.Starter.Opened.size(); };
        struct Answer
        {
            bool Yes;
            bool Never;
        };
        for (const Answer answer : {Answer{false, false}, Answer{true, false}, Answer{true, true}}) {
            const std::size_t before = plays();
            WhenModal([answer](QWidget* dialog) {
                auto* box = static_cast<QMessageBox*>(dialog);
                box->checkBox()->setChecked(answer.Never);
                box->button(answer.Yes ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            h.Main().Channels().PlaySelected(now);
            QCOMPARE(plays(), before + (answer.Yes ? 1 : 0));
            QCOMPARE(h.P->Setting().Operation.AskPlayHint, !answer.Never);
        }
        // Asked no more: a question that still came would be closed unanswered, playing nothing.
        const std::size_t before = plays();
        QTimer::singleShot(3000, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        h.Main().Channels().PlaySelected(now);
        QCOMPARE(plays(), before + 1);
    }

    // With the local server watched, a played channel shows that it is relayed until the next
    // refresh; without, nothing changes.
    void playMarksTheChannelUntilTheNextRefresh()
    {
        Harness h;
        h.Start();
        h.P->Setting().URL.LocalChInfoAddr = h.Server.Url("/admin?cmd=viewxml");
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        ChannelListView* now = h.ListViewNow();
        now->SelectRow(0);
        const TkavoDiff before = now->SelectedChannel()->Diff;
        h.Main().Channels().PlaySelected(now);
        QCOMPARE(now->SelectedChannel()->Diff, before);
        QCOMPARE(now->SelectedChannel()->LocalStatus, std::string());

        h.P->Setting().URL.LocalChInfo = true;
        QSignalSpy redrawn(&now->Model(), &QAbstractItemModel::dataChanged);
        h.Main().Channels().PlaySelected(now);
        QCOMPARE(now->SelectedChannel()->Diff, TkavoDiff::Relaying);
        QCOMPARE(now->SelectedChannel()->LocalStatus, std::string("CONNECT"));
        QCOMPARE(redrawn.count(), 1);

        QVERIFY(h.Cycle(Index({{"A", 5}}), false));
        now->SelectRow(0);
        QCOMPARE(now->SelectedChannel()->LocalStatus, std::string());
        QVERIFY(now->SelectedChannel()->Diff != TkavoDiff::Relaying);

        // A line without a channel ID plays nothing, however it is asked for.
        h.P->Setting().Operation.KeyEnterChOpen = true;
        Arrange(now->SelectedChannel()).Hash = NoHash;
        const std::size_t started = h.Starter.Started.size() + h.Starter.Opened.size();
        emit now->DoubleClickedRow();
        emit now->EnterPressed();
        h.Action("ActionLVPlay")->trigger();
        h.Action("ActionLVPlayDirect")->trigger();
        QCOMPARE(h.Starter.Started.size() + h.Starter.Opened.size(), started);
        QVERIFY(now->SelectedChannel()->Diff != TkavoDiff::Relaying);
    }

    // Stop and bump mark the row first, then reach the local server one at a time; the relay page
    // opens on the same server.
    void adminCommandsReachTheLocalServer()
    {
        Harness h;
        h.Start();
        h.WatchLocalServer();
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        ChannelActions& actions = h.Main().Channels();
        ChannelListView* now = h.ListViewNow();
        now->SelectRow(0);
        TkavoChItem& channel = Arrange(now->SelectedChannel());
        channel.LocalStatus = "RECEIVE";
        const std::string id = Id("A");
        QAction* stop = h.Action("ActionLVAdminCmdStop");
        QAction* bump = h.Action("ActionLVAdminCmdBump");

        HttpReply slow = HttpReply::Error(500, "Internal Server Error"); // the answer is ignored
        slow.Delay = std::chrono::milliseconds(500);
        h.Server.Route("/admin", slow);
        actions.PrepareListMenu();
        stop->trigger();
        QCOMPARE(channel.LocalStatus, std::string());
        QCOMPARE(channel.Diff, TkavoDiff::None);
        QVERIFY(actions.AdminCommandRunning());
        QVERIFY(!stop->isEnabled() && !bump->isEnabled());
        channel.LocalStatus = "RECEIVE";
        actions.PrepareListMenu();
        QVERIFY2(!bump->isEnabled(), "the menu must not offer a second command while one runs");
        bump->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!actions.AdminCommandRunning(), 10000);
        QVERIFY(stop->isEnabled() && bump->isEnabled());

        h.Server.Route("/admin", HttpReply::Ok("<html/>"));
        bump->trigger();
        QCOMPARE(channel.LocalStatus, std::string("CONNECT"));
        QCOMPARE(channel.Diff, TkavoDiff::Relaying);
        QTRY_VERIFY_WITH_TIMEOUT(!actions.AdminCommandRunning(), 10000);
        std::vector<std::string> targets;
        for (const HttpRequest& request : h.Server.RequestsFor("/admin"))
            if (request.Target.find("viewxml") == std::string::npos)
                targets.push_back(request.Target);
        QCOMPARE(targets, (std::vector<std::string>{"/admin?cmd=stop&id=" + id, "/admin?cmd=bump&id=" + id}));

        actions.PrepareListMenu();
        h.Action("ActionLVViewRelayInfo")->trigger();
        QCOMPARE(h.Starter.Opened.back(), h.Server.Url("/html/ja/relayinfo.html?id=" + id));

        // A relay without its source is bumped only when the user says so.
        const auto bumpsSent = [&] {
            int count = 0;
            for (const HttpRequest& request : h.Server.RequestsFor("/admin"))
                count += request.Target.find("cmd=bump") != std::string::npos ? 1 : 0;
            return count;
        };
        for (const bool yes : {false, true}) {
            channel.LocalStatus = "IDLE";
            const int before = bumpsSent();
            WhenModal([yes](QWidget* dialog) {
                static_cast<QMessageBox*>(dialog)->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            actions.PrepareListMenu();
            bump->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!actions.AdminCommandRunning(), 10000);
            QCOMPARE(bumpsSent(), before + (yes ? 1 : 0));
            QCOMPARE(channel.LocalStatus, std::string(yes ? "CONNECT" : "IDLE"));
        }
    }

    // The test notification takes the channel's favorites as they are now, whatever Rank2 says.
    void notificationTestMatchesFavoritesAgain()
    {
        Harness h;
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        h.P->NotifyMgr().Abort();
        h.TrayMessages.clear();
        h.P->Setting().Notify.notifyCheckBoxFavorite = true; // favorites only
        auto& favorite = h.P->Setting().Favorites.Add(std::make_unique<TkavoFavoriteItem>());
        favorite.Enabled = true;
        favorite.Channel = true;
        favorite.Word = "A";
        h.ListViewNow()->SelectRow(0);
        QVERIFY(!h.ListViewNow()->SelectedChannel()->Favorite);
        h.Main().Channels().PrepareListMenu();
        h.Action("ActionLVNotifyTest")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!h.TrayMessages.isEmpty(), 5000);
        QCOMPARE(h.TrayMessages.value(0), QStringLiteral("2:A"));
    }

    // Clearing the log empties the ended page and every YP's log; while a refresh runs, the
    // refresh's own endings go too. On the on-air page it does nothing.
    void clearEmptiesTheLog()
    {
        Harness h;
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}, {"B", 3}, {"C", 2}}), true));
        QVERIFY(h.Cycle(Index({{"A", 5}, {"C", 2}}), false));
        QCOMPARE(Names(h.ListViewLog()), std::string("B"));
        QAction* clear = h.Action("ActionLVClear");
        h.Main().Channels().PrepareListMenu();
        clear->trigger();
        QCOMPARE(Names(h.ListViewLog()), std::string("B"));

        h.Action("ActionTabLog")->trigger();
        h.Main().Channels().PrepareListMenu();
        clear->trigger();
        QCOMPARE(Names(h.ListViewLog()), std::string());
        QCOMPARE(h.P->Net().ChListLog().Count(), 0);
        for (const YpRecord& yp : h.P->Net().Yps())
            QCOMPARE(yp.ChListLog.Count(), 0);

        QVERIFY(h.Cycle(Index({{"A", 5}}), false)); // C ends
        QCOMPARE(Names(h.ListViewLog()), std::string("C"));
        HttpReply slow = HttpReply::Ok(Index({}));
        slow.Delay = std::chrono::milliseconds(800);
        h.Server.Route("/yp/index.txt", slow);
        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);
        h.Clock->AddMinutes(11);
        h.Refreshes().RefreshTimer(); // A ends in this one
        QVERIFY(h.P->Net().Running());
        clear->trigger();
        QCOMPARE(Names(h.ListViewLog()), std::string());
        QVERIFY(finished.wait(10000));
        QCOMPARE(Names(h.ListViewLog()), std::string());
    }

    // One tool item per entry, in order; an item runs its own entry's command, also when two
    // entries share a title, with the selected channel or none.
    void toolMenusRunTheirOwnEntry()
    {
        Harness h;
        h.Start();
        for (const char* name : {"tool1", "tool2"}) {
            const std::string path = h.Folder.File(name);
            WriteFile(path, "#!/bin/sh\n");
            std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        }
        ChannelActions& actions = h.Main().Channels();
        actions.BuildToolMenus();
        QCOMPARE(actions.MainToolMenu()->actions().size(), 1);
        QCOMPARE(actions.ToolMenu()->actions().value(0)->text(), QString::fromUtf8("なし"));
        actions.ToolMenu()->actions().value(0)->trigger();
        QVERIFY(h.Starter.Started.empty());

        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        h.P->Setting().Tools = {"dup=" + h.Folder.File("tool1") + " <channelname/>",
                                "dup=" + h.Folder.File("tool2") + " <channelname/>", "other=" + h.Folder.File("tool1")};
        actions.BuildToolMenus();
        for (QMenu* menu : {actions.MainToolMenu(), actions.ToolMenu()}) {
            QStringList titles;
            for (QAction* item : menu->actions())
                titles.append(item->text());
            QCOMPARE(titles, (QStringList{QStringLiteral("dup"), QStringLiteral("dup"), QStringLiteral("other")}));
        }
        h.ListViewNow()->SelectRow(0);
        h.Starter.Started.clear();
        actions.ToolMenu()->actions().value(1)->trigger();
        h.ListViewNow()->clearSelection();
        actions.MainToolMenu()->actions().value(1)->trigger();
        QCOMPARE(h.Starter.Started.size(), std::size_t{2});
        QCOMPARE(h.Starter.Started[0].Program, h.Folder.File("tool2"));
        QCOMPARE(h.Starter.Started[0].Arguments, std::vector<std::string>{"A"});
        QCOMPARE(h.Starter.Started[1].Program, h.Folder.File("tool2"));
        // A word that is only a tag stays an argument when the tag gives nothing.
        QCOMPARE(h.Starter.Started[1].Arguments, std::vector<std::string>{""});
    }

    // Nothing to end: said in the status bar and the debug log, without a message box.
    void exitPeerCastWithoutAServerSaysSo()
    {
        Harness h;
        h.Start();
        h.Action("ActionMainHelpDebugMode")->setChecked(true);
        h.Action("ActionMainHelpExitPeerCast")->trigger();
        QVERIFY(!QApplication::activeModalWidget());
        const QString said = h.Main().statusBar()->currentMessage();
        QVERIFY2(said.startsWith(QString::fromUtf8("終了したPeerCastはありません")), qPrintable(said));
        QVERIFY(ReadFile(DebugLog::FilePath()).find(said.toStdString()) != std::string::npos);
        h.Action("ActionMainHelpDebugMode")->setChecked(false);
    }

    // Lines logged while debug mode is off wait for it, the last hundred of them.
    void debugLogKeepsTheLastLinesUntilSwitchedOn()
    {
        Harness h; // a program folder of its own
        DebugLog::SetEnabled(false);
        for (int i = 0; i < 150; ++i)
            DebugLog::Line("test", "waiting line " + std::to_string(i) + ".");
        QVERIFY(!std::filesystem::exists(DebugLog::FilePath()));
        DebugLog::SetEnabled(true);
        const std::string log = ReadFile(DebugLog::FilePath());
        QVERIFY(log.find("waiting line 49.") == std::string::npos);
        QVERIFY(log.find("waiting line 50.") != std::string::npos);
        QVERIFY(log.find("waiting line 149.") != std::string::npos);
        DebugLog::SetEnabled(false);
    }

    // Committed settings reach the parts they concern: the views take the new columns and stay
    // filled, the tool menus the new tools, the window the new title. A commit the file cannot
    // take still holds for the run.
    void committedSettingsReachTheParts()
    {
        Harness h;
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}, {"B", 7}}), true));
        TkavoSetting edited = h.P->Setting();
        edited.Columns = {ColumnCaptionById("ChannelName"), ColumnCaptionById("Listener")};
        edited.Tools = {"one=" + h.Folder.File("tool")};
        edited.Etc.ApplicationTitle = "renamed";
        QVERIFY(!h.P->Settings().Commit(edited));
        QCOMPARE(h.ListViewNow()->Model().columnCount(), 2);
        QCOMPARE(h.ListViewLog()->Model().columnCount(), 2);
        QCOMPARE(Names(h.ListViewNow()), std::string("B A"));
        QCOMPARE(h.Main().Channels().MainToolMenu()->actions().value(0)->text(), QStringLiteral("one"));
        QCOMPARE(h.Main().windowTitle(), QStringLiteral("renamed"));
        QCOMPARE(IniFile::Read(h.Folder.File("kavo.ini")).ReadString("Etc", "ApplicationTitle", ""),
                 std::string("renamed"));

        std::filesystem::remove(h.Folder.File("kavo.ini"));
        std::filesystem::create_directory(h.Folder.File("kavo.ini"));
        edited.Etc.ApplicationTitle = "unsaved";
        QVERIFY(h.P->Settings().Commit(edited));
        QCOMPARE(h.P->Setting().Etc.ApplicationTitle, std::string("unsaved"));
        QCOMPARE(h.Main().windowTitle(), QStringLiteral("unsaved"));
    }

    // A manual refresh within a minute of the last is refused at once and fetches nothing.
    void manualRefreshCountdown()
    {
        Harness h;
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        const int fetches = h.Fetches();
        QCOMPARE(h.Refreshes().ReloadCountdown(), 60);
        h.TrayMessages.clear();
        h.Refreshes().Refresh();
        QVERIFY(!h.P->Common().Busy);
        QCOMPARE(h.TrayMessages.value(0),
                 QStringLiteral("1:") + QString::fromUtf8("手動による更新は１分間に１回のみです"));
        QTRY_COMPARE_WITH_TIMEOUT(h.Main().Frame().StatusPanel(0), QStringLiteral("59"), 3000);
        QCOMPARE(h.Fetches(), fetches);
    }

    // The settings dialog edits a copy: an automatic refresh that starts while it is open runs on the
    // settings as they were, and OK saves the edits and takes them on; Cancel leaves the file alone.
    void settingsDialogCommitsWhileARefreshRuns()
    {
        Harness h("[Mode]\nManual=0\nAuto=1\n");
        h.Start();
        HttpReply slow = HttpReply::Ok(Index({{"A", 5}}));
        slow.Delay = std::chrono::milliseconds(500);
        h.Server.Route("/yp/index.txt", slow);
        const std::string fileBefore = ReadFile(h.Folder.File("kavo.ini"));
        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);

        bool edited = false;
        const auto editAndClose = [&](bool accept) {
            QTimer::singleShot(50, [&, accept] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                h.Clock->AddMinutes(11);
                h.Refreshes().RefreshTimer(); // a refresh starts while the dialog is open
                QVERIFY(h.P->Common().Busy);
                auto* title = dialog->findChild<QLineEdit*>(QStringLiteral("notifyEditTitle"));
                QVERIFY(title);
                title->setText(QStringLiteral("edited"));
                edited = true;
                if (accept)
                    dialog->accept();
                else
                    dialog->reject();
            });
            h.Action("ActionMainConfig")->trigger();
        };

        editAndClose(false);
        QVERIFY(edited);
        QCOMPARE(ReadFile(h.Folder.File("kavo.ini")), fileBefore);
        QVERIFY(h.P->Setting().Notify.Title != "edited");
        QVERIFY(finished.wait(5000));

        editAndClose(true);
        QCOMPARE(h.P->Setting().Notify.Title, std::string("edited"));
        QCOMPARE(IniFile::Read(h.Folder.File("kavo.ini")).ReadString("Notify", "Title", ""), std::string("edited"));
        QVERIFY(finished.wait(5000));
        QCOMPARE(Names(h.ListViewNow()), std::string("A"));
        QVERIFY(!h.P->Common().Busy);
    }

    // A cancelled dialog changes nothing: a YP taken out there keeps its channels, as does one
    // cancelled without that change.
    void cancelledRemovalKeepsTheYp()
    {
        Harness h;
        h.Start();
        QVERIFY(h.Cycle(Index({{"A", 5}}), true));
        QCOMPARE(h.P->Net().Yps()[0].ChList.Count(), 1);
        const auto closeDialog = [&](bool removeYp) {
            QTimer::singleShot(50, [removeYp] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                if (removeYp)
                    dialog->findChild<QPushButton*>(QStringLiteral("ypButtonDel"))->click();
                dialog->reject();
            });
            h.Action("ActionMainConfig")->trigger();
        };
        closeDialog(false);
        QCOMPARE(h.P->Net().Yps()[0].ChList.Count(), 1);
        closeDialog(true);
        QCOMPARE(h.P->Setting().YpList.Count(), 1);
        QCOMPARE(h.P->Net().Yps().Count(), 1);
        QCOMPARE(h.P->Net().Yps()[0].ChList.Count(), 1);
    }

    // Closing while a cycle runs hides the window at once, waits for the cycle and writes the
    // window options.
    void closeWaitsForRunningCycle()
    {
        Harness h("[Mode]\nManual=0\nAuto=1\n");
        h.Start();
        QVERIFY(h.Action("ActionMainModeAuto")->isChecked());
        HttpReply slow = HttpReply::Ok(Index({{"A", 5}}));
        slow.Delay = std::chrono::milliseconds(1500);
        h.Server.Route("/yp/index.txt", slow);
        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);
        h.Refreshes().Refresh();
        QVERIFY(h.P->Common().Busy);
        h.Main().close();
        QVERIFY(!h.Main().isVisible());
        QCOMPARE(finished.count(), 1);
        QVERIFY(!h.P->Common().Busy);
        QCOMPARE(Names(h.ListViewNow()), std::string("A"));
        const IniFile ini = IniFile::Read(h.Folder.File("kavo.ini"));
        QVERIFY(ini.ReadBool("Mode", "Auto", false));
        QVERIFY(!ini.ReadBool("Mode", "Manual", true));
        QVERIFY(ini.HasKey("ColumnSize", "ChannelName"));
        QVERIFY(ini.HasKey("CoolBar", "ID2"));
        h.Free(); // before the finish timer ends the process
    }

    // The list the history kept of an earlier run is shown greyed at start-up, with its time, until
    // the first refresh; that refresh marks nothing new, for the old channels were never part of
    // the comparison.
    void previousListUntilTheFirstRefresh()
    {
        Harness h;
        const DateTime earlier = h.Clock->Now() - 1;
        {
            HistoryStore history(h.Folder.File(HistoryStore::FileName));
            TkavoChList none;
            RetrievalRecord record;
            record.Time = earlier;
            YpAttempt& a = record.Attempts.emplace_back();
            a.Url = h.Server.Url("/yp/");
            a.Time = earlier;
            a.Outcome = YpOutcome::Fetched;
            a.Index = Index({{"Old", 3}, {"A", 5}});
            a.ChList = &none;
            history.Record(record);
            history.Flush();
        }
        h.Start();
        QVERIFY(h.Action("ActionMainVisualHistory")->isEnabled());
        QCOMPARE(Names(h.ListViewNow()), std::string("A Old"));
        QVERIFY(h.ListViewNow()->Model().Greyed());
        const auto* label = h.Main().findChild<QLabel*>(QStringLiteral("LabelPreviousList"));
        QVERIFY(label && !label->isHidden());
        // With F5 off (the default) it says how to refresh, and where F5 is switched on.
        QVERIFY2(label->text().startsWith(
                     QString::fromUtf8("前回 %1 の一覧").arg(QString::fromStdString(FormatMonthDayTime(earlier)))),
                 qPrintable(label->text()));
        QVERIFY2(label->text().contains(QString::fromUtf8("「更新」ボタン")) &&
                     label->text().contains(QString::fromUtf8("「操作」")),
                 qPrintable(label->text()));

        QVERIFY(h.Cycle(Index({{"A", 5}, {"B", 2}}), true));
        QCOMPARE(Names(h.ListViewNow()), std::string("A B"));
        QVERIFY(!h.ListViewNow()->Model().Greyed());
        QVERIFY(label->isHidden());
        QVERIFY(!h.Main().Views().ShowsPreviousList());
        for (const TkavoChItem* channel : h.ListViewNow()->Model().Rows())
            QCOMPARE(channel->Diff, TkavoDiff::None);
    }

    // The program started a second time hands its command line over and exits with 0.
    void secondInstanceExitsAndRaisesFirst()
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../../src/app/kavo");
        if (!QFileInfo(program).isExecutable())
            QSKIP("the kavo program is not built");
        TempFolder folder;
        const std::string resolved =
            ResolveProgramFolder(ProgramFolderSources::FromEnvironment(folder.Path(), std::string()));
        SingleInstance first(SingleInstance::ServerName(QString::fromStdString(resolved)));
        QVERIFY(!first.HandOver({}));
        QSignalSpy activated(&first, &SingleInstance::Activated);

        QProcess second;
        QSignalSpy ended(&second, &QProcess::finished);
        second.start(program, {QStringLiteral("--home"), QString::fromStdString(folder.Path()), QStringLiteral("x")});
        QVERIFY(ended.wait(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(activated.count(), 1);
        QVERIFY(activated.first().first().toStringList().contains(QStringLiteral("x")));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
