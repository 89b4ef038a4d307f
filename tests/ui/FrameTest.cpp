#include "common/ukavoCommon.h"
#include "platform/Cp932.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "settings/IniFile.h"
#include "support/BrowserTestMain.h"
#include "support/TempFolder.h"
#include "support/TestProgram.h"
#include "ui/window/MainFrame.h"
#include "ui/window/PlacementStore.h"
#include "ui/window/ToolBars.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <fstream>

using namespace kavo;
using namespace kavo::test;

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

class RecordingStarter : public ProcessStarter
{
public:
    std::vector<std::string> Opened;
    StartResult Start(const Command&, const std::string&, int) override { return {}; }
    StartResult OpenWithDesktop(const std::string& target) override
    {
        Opened.push_back(target);
        return {};
    }
};

// A program folder with templates (and a second set "dark"), icons and settings; it outlives the
// runs of the program made over it.
class Folder
{
public:
    TempFolder Temp;

    explicit Folder(const std::string& settings = "")
    {
        namespace fs = std::filesystem;
        for (const char* set : {"templates", "templates/dark"}) {
            fs::create_directories(Temp.File(set));
            for (const char* name :
                 {"notify.txt", "popup.txt", "clipboard.txt", "ie_header.html", "ie_channel.html", "ie_footer.html"})
                Write(Temp.File(std::string(set) + "/" + name), set);
        }
        fs::copy(fs::path(KAVO_TEST_DATA) / ".." / ".." / "data" / "icons", Temp.File("icons"));
        Write(Temp.File("kavo.ini"), "[Etc]\nPeerCast=/nonexistent/peercast\n" + settings);
        SetProgramFolder(Temp.Path());
    }
    IniFile Placement() const { return IniFile::Read(Temp.File(PlacementStore::FileName)); }
};

// One run of the program over a folder.
class Run : public TestProgram
{
public:
    RecordingStarter Starter;

    Run()
    {
        Create(&Starter);
        P->Start();
        P->Show();
    }
    ~Run() { End(); }

    TkavoMain& W() const { return Main(); }
    QAction* A(const char* name) const { return Action(name); }
    ToolBars& Bars() const { return *Main().findChild<ToolBars*>(); }
    ToolBand* Band(int id) const { return Bars().Band(id); }
    // The page the window shows.
    int Page() const { return Main().findChild<QStackedWidget*>(QStringLiteral("PageControl"))->currentIndex(); }
    // Closes the window as the user does and frees the parts before the finish timer would end
    // the test.
    void End()
    {
        if (P && !Main().isHidden())
            Main().close();
        Free();
    }
};

std::vector<std::tuple<int, bool>> OrderAndBreaks(const std::array<CoolBand, 3>& layout)
{
    std::vector<std::tuple<int, bool>> result;
    for (const CoolBand& band : layout)
        result.emplace_back(band.ID, band.Break);
    return result;
}

} // namespace

class FrameTest : public QObject
{
    Q_OBJECT

private slots:
    // What a run leaves in kavo.ini and dfm.ini, the next run finds: the tab, the fixed bands,
    // the band order with rows and widths, the placement and the options each part stores (the
    // switches, the YP-style page's). Checked states reach dfm.ini the moment they change.
    void restartRestoresTheFrame()
    {
        Folder folder("[Window]\nStatusBar=0\n");
        const QRect placed(140, 120, 760, 520);
        std::array<CoolBand, 3> layout{};
        {
            Run run;
            // A first start keeps the designed order: the menu band, then tabs and commands on row two.
            QCoreApplication::processEvents();
            using Row = std::tuple<int, bool>;
            QCOMPARE(OrderAndBreaks(run.Bars().CaptureLayout()),
                     (std::vector<Row>{
                         {ToolBars::BandMain, false}, {ToolBars::BandTab, true}, {ToolBars::BandTool, false}}));
            QVERIFY(run.W().statusBar()->isHidden());
            run.W().setGeometry(placed);
            // The command band moved to the first row, ahead of the menu band.
            run.W().insertToolBar(run.Band(ToolBars::BandMain), run.Band(ToolBars::BandTool));
            run.Band(ToolBars::BandTool)->SetPreferredWidth(300);
            run.A("ActionCoolFixed")->trigger();
            run.A("ActionTabYpLike")->trigger();
            for (const char* name : {"ActionMainVisualYpLikeLite3", "ActionMainVisualYpLikeModeFromTempFile",
                                     "ActionMainVisualEnableEnsureVisible", "ActionMainNotifyRefresh"})
                run.A(name)->setChecked(true);
            QCOMPARE(folder.Placement().ReadString("kavoMain", "ActionTabYpLike.Checked", ""), std::string("TRUE"));
            QCOMPARE(folder.Placement().ReadString("kavoMain", "ActionTabNow.Checked", ""), std::string("FALSE"));
            QCOMPARE(folder.Placement().ReadString("kavoMain", "ActionCoolFixed.Checked", ""), std::string("TRUE"));
            QCoreApplication::processEvents();
            layout = run.Bars().CaptureLayout();
            QCOMPARE(layout[0].ID, int(ToolBars::BandTool));
            QCOMPARE(layout[0].Width, 300);
            QVERIFY(layout[1].ID == ToolBars::BandMain && !layout[1].Break);
            QVERIFY(layout[2].ID == ToolBars::BandTab && layout[2].Break);
            run.End();
        }
        const IniFile ini = IniFile::Read(folder.Temp.File("kavo.ini"));
        QCOMPARE(ini.ReadInteger("CoolBar", "ID0", -1), int(ToolBars::BandTool));
        QCOMPARE(ini.ReadInteger("CoolBar", "Width0", -1), layout[0].Width);
        QVERIFY(ini.ReadBool("CoolBar", "Break2", false));
        QVERIFY(!ini.ReadBool("Window", "StatusBar", true));
        QCOMPARE(folder.Placement().ReadInteger("kavoMain", "Width", 0), placed.width());

        Run run;
        QCOMPARE(run.Page(), int(MainFrame::PageYpLike));
        QVERIFY(run.A("ActionTabYpLike")->isChecked());
        QVERIFY(run.A("ActionCoolFixed")->isChecked());
        QVERIFY(!run.Band(ToolBars::BandTool)->isMovable());
        QCOMPARE(run.W().geometry(), placed);
        QVERIFY(run.W().statusBar()->isHidden());
        for (const char* name : {"ActionMainVisualYpLikeLite3", "ActionMainVisualYpLikeModeFromTempFile",
                                 "ActionMainVisualEnableEnsureVisible", "ActionMainNotifyRefresh"})
            QVERIFY2(run.A(name)->isChecked(), name);
        QVERIFY(!run.A("ActionMainVisualYpLikeLite4")->isChecked());
        QVERIFY(!run.A("ActionMainVisualYpLikeModeFromStream")->isChecked());
        QCoreApplication::processEvents();
        const auto restored = run.Bars().CaptureLayout();
        QCOMPARE(OrderAndBreaks(restored), OrderAndBreaks(layout));
        QCOMPARE(restored[0].Width, layout[0].Width);
    }

    // Booleans of dfm.ini in their several spellings; a placement off every screen comes onto the
    // primary one.
    void placementStoreReadsWhatItFinds()
    {
        Folder folder;
        Write(folder.Temp.File("dfm.ini"), "[kavoMain]\nLeft=-9000\nTop=-9000\nWidth=640\nHeight=480\n"
                                           "ActionTabLog.Checked=yes\nActionCoolFixed.Checked=Y\n"
                                           "TimerInitialize.Interval=700\n");
        {
            Run run;
            QVERIFY(run.A("ActionTabLog")->isChecked());
            QCOMPARE(run.Page(), int(MainFrame::PageLog));
            QVERIFY(run.A("ActionCoolFixed")->isChecked());
            QCOMPARE(run.W().TimerInitialize.interval(), 700);
            const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
            QVERIFY(area.intersects(run.W().geometry()));
            QCOMPARE(run.W().size(), QSize(640, 480).boundedTo(area.size()));
        }
        for (const auto& [text, expected] :
             std::vector<std::pair<const char*, std::optional<bool>>>{{"TRUE", true},
                                                                      {"yes", true},
                                                                      {"y", true},
                                                                      {"False", false},
                                                                      {"NO", false},
                                                                      {"n", false},
                                                                      {"1", std::nullopt},
                                                                      {"", std::nullopt},
                                                                      {"truly", std::nullopt}})
            QVERIFY2(PlacementStore::ParseBool(text) == expected, text);
    }

    // Minimising goes into the tray only with Etc/TaskTray on; otherwise to the task bar even with
    // the tray icon shown.
    void minimiseIntoTheTray_data()
    {
        QTest::addColumn<bool>("taskTray");
        QTest::newRow("TaskTray on") << true;
        QTest::newRow("TaskTray off") << false;
    }
    void minimiseIntoTheTray()
    {
        QFETCH(bool, taskTray);
        Folder folder(std::string("TaskTray=") + (taskTray ? "1" : "0") + "\n[Notify]\nPosition=0\n");
        Run run;
        QTRY_VERIFY(run.P->Common().Initialized);
        QVERIFY(run.P->NotifyMgr().TrayActive());
        run.W().setGeometry(150, 160, 620, 430);
        const QRect normal = run.W().normalGeometry();
        run.W().setWindowState(Qt::WindowMinimized);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(run.W().isHidden(), taskTray);
        QCOMPARE(run.W().Frame().InTray(), taskTray);
        QVERIFY(run.W().isMinimized());
        run.P->NotifyMgr().ShowApplication();
        QVERIFY(run.W().isVisible() && !run.W().isMinimized());
        QCOMPARE(run.W().normalGeometry(), normal);
        QVERIFY(!run.W().Frame().InTray());
    }

    // F9 hides into the tray even with Etc/TaskTray off; a click on the icon brings the window back
    // where it was, maximised or not, and the icon goes when nothing else needs it.
    void putIntoTrayAndBack_data()
    {
        QTest::addColumn<bool>("maximized");
        QTest::newRow("normal") << false;
        QTest::newRow("maximised") << true;
    }
    void putIntoTrayAndBack()
    {
        QFETCH(bool, maximized);
        Folder folder("TaskTray=0\n[Notify]\nPosition=1\n");
        Run run;
        TkavoMain& w = run.W();
        QTRY_VERIFY(run.P->Common().Initialized);
        QVERIFY(!run.P->NotifyMgr().TrayActive());
        w.setGeometry(150, 160, 620, 430);
        if (maximized)
            w.showMaximized();
        const QRect normal = w.normalGeometry();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F9);
        QVERIFY(w.isHidden());
        QVERIFY(run.P->NotifyMgr().TrayActive());
        // A window shown again is placed anew by the window manager; here the hidden window is
        // moved in its stead.
        w.setWindowState(Qt::WindowNoState);
        w.setGeometry(0, 0, 300, 200);
        emit run.P->NotifyMgr().JvTrayIcon().activated(QSystemTrayIcon::Trigger);
        QVERIFY(w.isVisible());
        QCOMPARE(w.isMaximized(), maximized);
        QCOMPARE(w.normalGeometry(), normal);
        QVERIFY(!run.P->NotifyMgr().TrayActive());
    }

    // Ctrl+Tab three times comes back to the on-air page; Ctrl+Shift+Tab goes the other way.
    void tabKeysCycle()
    {
        Folder folder;
        Run run;
        TkavoMain& w = run.W();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        for (const int page : {MainFrame::PageLog, MainFrame::PageYpLike, MainFrame::PageNow}) {
            QTest::keyClick(&w, Qt::Key_Tab, Qt::ControlModifier);
            QCOMPARE(run.Page(), page);
        }
        QTest::keyClick(&w, Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(run.Page(), int(MainFrame::PageYpLike));
        QVERIFY(run.A("ActionTabYpLike")->isChecked());
    }

    // A theme whose folder is missing is refused with the folder's path; an existing one loads
    // its templates and names itself in the action's caption.
    void themeNeedsItsFolder()
    {
        Folder folder;
        Run run;
        QAction* change = run.A("ActionMainVisualChangeTheme");
        QCOMPARE(change->text(), U("テーマ変更[](&M)"));
        std::string answer = "nothere";
        run.W().Frame().AskTheme = [&answer](const std::string&) { return answer; };
        change->trigger();
        auto* box = run.W().findChild<QMessageBox*>(QStringLiteral("ThemeNotFound"));
        QVERIFY(box);
        QCOMPARE(box->text(), QString::fromStdString(folder.Temp.Path()) + U("/templates/nothere/が見つかりません"));
        QCOMPARE(run.P->Common().Theme, std::string());
        QCOMPARE(change->text(), U("テーマ変更[](&M)"));
        box->close();

        answer = "dark";
        change->trigger();
        QCOMPARE(run.P->Common().Theme, std::string("dark"));
        QCOMPARE(change->text(), U("テーマ変更[dark](&M)"));
        QCOMPARE(run.P->Common().NotifyTemplate().at(0), std::string("templates/dark"));
        QCOMPARE(IniFile::Read(folder.Temp.File("kavo.ini")).ReadString("Theme", "Templates", ""), std::string("dark"));
    }

    // Panel 2's URL: a double click opens it, except on the YP-style page; "URLのコピー" copies it.
    // The two temporary switches show and hide the bars for this run only.
    void statusBar()
    {
        Folder folder;
        Run run;
        TkavoMain& w = run.W();
        QTRY_VERIFY(run.P->Common().Initialized);
        const QString url = QStringLiteral("http://example.com/contact");
        w.Frame().SetStatusPanel(2, url);
        QTest::mouseDClick(w.statusBar(), Qt::LeftButton);
        QCOMPARE(run.Starter.Opened, std::vector<std::string>{url.toStdString()});
        run.A("ActionStatusCopy")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), url);
        run.A("ActionTabYpLike")->trigger();
        w.Frame().SetStatusPanel(2, url);
        QTest::mouseDClick(w.statusBar(), Qt::LeftButton);
        QCOMPARE(run.Starter.Opened.size(), std::size_t{1});

        QVERIFY(run.A("ActionSysVChangeStatusBar")->isChecked());
        QVERIFY(!run.A("ActionSysVChangeMainMenu")->isChecked());
        run.A("ActionSysVChangeStatusBar")->trigger();
        run.A("ActionSysVChangeToolBar")->trigger();
        QVERIFY(w.statusBar()->isHidden());
        QVERIFY(run.Band(ToolBars::BandTool)->isHidden());
        QVERIFY(run.A("ActionMainVisualStatusBar")->isChecked());
        run.A("ActionMainVisualStatusBar")->trigger();
        run.A("ActionMainVisualStatusBar")->trigger();
        QVERIFY(!w.statusBar()->isHidden());
        QVERIFY(run.A("ActionSysVChangeStatusBar")->isChecked());
        // The system menu's stand-in is in the tray menu and in the bands' menu.
        for (QMenu* menu : {w.Frame().PopupMenuTrayIcon(), w.Frame().PopupMenuCoolBar()})
            QVERIFY(menu->actions().contains(w.Frame().PopupMenuSysMenu()->menuAction()));
    }

    // A band too narrow for its buttons offers exactly the hidden ones; the refresh entry holds the
    // refresh and both modes. A band whose buttons all fit offers nothing.
    void narrowBandsOfferTheHiddenButtons()
    {
        Folder folder;
        Run run;
        TkavoMain& w = run.W();
        ToolBand* tool = run.Band(ToolBars::BandTool);
        w.resize(900, 500);
        QCoreApplication::processEvents();
        QVERIFY(run.Bars().ChevronMenu(tool)->actions().isEmpty());

        // The tab band takes the row, leaving the command band its least width.
        run.Band(ToolBars::BandTab)->SetPreferredWidth(w.width());
        w.resize(w.minimumSizeHint().width(), 500);
        QCoreApplication::processEvents();
        QStringList hidden;
        for (QAction* action : tool->actions())
            if (tool->widgetForAction(action)->isHidden())
                hidden.append(action->objectName());
        QVERIFY(!hidden.isEmpty());
        QMenu* menu = run.Bars().ChevronMenu(tool);
        QStringList offered;
        for (QAction* entry : menu->actions())
            offered.append(entry->menu() ? entry->menu()->actions().first()->objectName() : entry->objectName());
        QCOMPARE(offered, hidden);
        // Qt's bands keep their first button; were the refresh button hidden too, its entry would
        // hold the refresh and the two modes.
        QVERIFY(!hidden.contains(QStringLiteral("ActionMainRefresh")));
        tool->widgetForAction(run.A("ActionMainRefresh"))->hide();
        QMenu* refresh = run.Bars().ChevronMenu(tool)->actions().first()->menu();
        QVERIFY(refresh);
        QCOMPARE(refresh->title(), U("更新(&R)"));
        QStringList names;
        for (QAction* entry : refresh->actions())
            names.append(entry->isSeparator() ? QStringLiteral("-") : entry->objectName());
        QCOMPARE(names, (QStringList{QStringLiteral("ActionMainRefresh"), QStringLiteral("-"),
                                     QStringLiteral("ActionMainModeManual"), QStringLiteral("ActionMainModeAuto")}));
        w.resize(w.width() + 1, 500);
        QCoreApplication::processEvents();

        // The menu band offers its hidden menus under their trimmed captions.
        ToolBand* main = run.Band(ToolBars::BandMain);
        QStringList menus;
        for (QAction* entry : run.Bars().ChevronMenu(main)->actions())
            menus.append(entry->text());
        QVERIFY(!menus.isEmpty());
        QCOMPARE(menus.last(), U("ヘルプ(&H)"));

        // The extension button pops the menu up instead of unfolding the band.
        auto* extension = tool->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"));
        QVERIFY(extension && extension->isVisible());
        QTest::mouseClick(extension, Qt::LeftButton);
        auto* chevron = w.findChild<QMenu*>(QStringLiteral("PopupMenuChevron"));
        QTRY_VERIFY(chevron->isVisible());
        chevron->close();
    }

    // Dragging on a band moves the window only while the bands are fixed and the window is not
    // maximised; the status bar always moves it.
    void fixedBandsMoveTheWindow_data()
    {
        QTest::addColumn<bool>("onStatusBar");
        QTest::addColumn<bool>("fixed");
        QTest::addColumn<bool>("maximized");
        QTest::addColumn<int>("moves");
        QTest::newRow("band, movable") << false << false << false << 0;
        QTest::newRow("band, fixed") << false << true << false << 1;
        QTest::newRow("band, fixed, maximised") << false << true << true << 0;
        QTest::newRow("status bar") << true << false << false << 1;
    }
    void fixedBandsMoveTheWindow()
    {
        QFETCH(bool, onStatusBar);
        QFETCH(bool, fixed);
        QFETCH(bool, maximized);
        QFETCH(int, moves);
        Folder folder;
        Run run;
        TkavoMain& w = run.W();
        int started = 0;
        run.Bars().StartSystemMove = [&started] { return ++started > 0; };
        run.A("ActionCoolFixed")->setChecked(fixed);
        QCOMPARE(run.Band(ToolBars::BandMain)->isMovable(), !fixed);
        if (maximized)
            w.showMaximized();
        QCoreApplication::processEvents();
        QWidget* source = onStatusBar ? static_cast<QWidget*>(w.statusBar()) : run.Band(ToolBars::BandMain);
        const QPoint at(source->width() - 4, source->height() / 2);
        QTest::mousePress(source, Qt::LeftButton, {}, at);
        QTest::mouseMove(source, at - QPoint(30, 0));
        QTest::mouseRelease(source, Qt::LeftButton, {}, at - QPoint(30, 0));
        QCOMPARE(started, moves);
    }

    // With KAVO_SCREENSHOTS set to a folder: the frame there at the screen's scale
    // ("frame-100.png", "frame-200.png"), wide and narrowed until bands hide buttons.
    void screenshots()
    {
        const QString folder = qEnvironmentVariable("KAVO_SCREENSHOTS");
        if (folder.isEmpty())
            QSKIP("KAVO_SCREENSHOTS is not set");
        QDir().mkpath(folder);
        Folder programFolder;
        Run run;
        TkavoMain& w = run.W();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(run.P->Common().Initialized);
        w.Frame().SetStatusPanel(2, QStringLiteral("http://yp.example.com/contact"));
        const int scale = qRound(w.devicePixelRatioF() * 100);
        for (const auto& [width, name] : {std::pair{720, "frame"}, std::pair{0, "frame-narrow"}}) {
            const QSize size(width > 0 ? width : w.minimumSizeHint().width() + 40, 260);
            w.resize(size);
            QTRY_COMPARE(w.size(), size);
            const QString path = folder + QStringLiteral("/%1-%2.png").arg(QLatin1String(name)).arg(scale);
            QVERIFY2(w.grab().save(path), qPrintable(path));
        }
    }
};

int main(int argc, char** argv)
{
    return BrowserTestMain<FrameTest>(argc, argv);
}

#include "FrameTest.moc"
