#include "app/Program.h"

#include "ui/Cp932Text.h"

#include "common/Launcher.h"
#include "common/ukavoCommon.h"
#include "history/HistoryStore.h"
#include "history/LastList.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "platform/VisitedUrls.h"
#include "script/ScriptHost.h"
#include "script/YpScriptRunner.h"
#include "settings/IniEncoding.h"
#include "ui/app/DebugLog.h"
#include "ui/app/InputBox.h"
#include "ui/htmlview/BrowserPreload.h"
#include "ui/htmlview/YpLikeView.h"
#include "ui/lists/ChannelActions.h"
#include "ui/lists/ChannelListView.h"
#include "ui/lists/ChannelViews.h"
#include "ui/window/MainFrame.h"
#include "ui/window/RefreshCycle.h"
#include "ui/window/RefreshFeedback.h"
#include "ui/window/RulesFollower.h"
#include "ui/window/SettingsHolder.h"
#include "ui/window/ShutdownSequence.h"
#include "ui/window/ukavoMain.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

namespace kavo {
namespace {

using DebugLog::Guarded;
using enum ActionId;

void ApplyPriorities(const TkavoSetting& setting)
{
    ApplyProcessPriority(setting.Priority.KAVOProcess);
    if (setting.Priority.KAVOThread != 0)
        ApplyThreadPriority(setting.Priority.KAVOThread);
}

bool SameFavorites(const TkavoSetting& a, const TkavoSetting& b)
{
    if (a.Favorites.Count() != b.Favorites.Count())
        return false;
    for (int i = 0; i < a.Favorites.Count(); ++i)
        if (!(static_cast<const FavoriteFields&>(a.Favorites[i]) == static_cast<const FavoriteFields&>(b.Favorites[i])))
            return false;
    return true;
}

// A message over the window that does not hold up what raised it.
void ShowMessage(QWidget& window, QMessageBox::Icon icon, const std::string& cp932)
{
    auto* box = new QMessageBox(icon, window.windowTitle(), FromCp932(cp932), QMessageBox::Ok, &window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace

Program::Program(ProgramServices services, bool startMinimized) : m_services(std::move(services))
{
    const std::string folder = ProgramFolder();
    SetIniUtf8Handler([](const std::string& path) {
        DebugLog::Line("settings", path + " is no Shift-JIS but UTF-8: read as UTF-8; the next save writes Shift-JIS");
    });
    m_settingsFile = IniFile::Read(TkavoSetting::SettingsFileName(), &m_settingsProblem);
    if (!m_services.Starter) {
        m_ownStarter = std::make_unique<ProcessStarter>();
        m_services.Starter = m_ownStarter.get();
    }

    m_history = std::make_unique<HistoryStore>(folder + "/" + HistoryStore::FileName);
    m_history->SetProblemHandler([](const std::string& problem) {
        QMetaObject::invokeMethod(
            qApp, [problem] { DebugLog::Line("history", problem); }, Qt::QueuedConnection);
    });
    m_common = std::make_unique<TkavoCommon>(m_setting, CommonPaths::Current(),
                                             m_services.Sound ? m_services.Sound() : CreateCanberraPlayer());
    m_notifyMgr = std::make_unique<TkavoNotifyMgr>(m_setting, *m_common,
                                                   m_services.Notify ? m_services.Notify() : NotifyPlatform::Desktop());
    m_notifyMgr->StartMinimized = startMinimized;
    m_net = std::make_unique<TkavoNet>(
        [](std::function<void()> job) { QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection); },
        m_setting);
    m_settings = std::make_unique<SettingsHolder>(m_setting, *m_net);
    m_rules = std::make_unique<RulesFollower>(*m_settings);
    m_window = std::make_unique<TkavoMain>(*m_settings, *m_common, *m_notifyMgr, *m_net,
                                           [this]() -> Launcher& { return launcher(); });
    // The cycle marks visited links from the store, which opens with the launcher.
    m_cycle =
        std::make_unique<RefreshCycle>(m_setting, *m_common, *m_net, *m_notifyMgr, *m_window, [this] { launcher(); });
    m_shutdown = std::make_unique<ShutdownSequence>(
        m_setting, *m_common, *m_notifyMgr, *m_window, [this]() -> EventScripts& { return scripts(); },
        [this] { return m_launcher.get(); });

    m_preload = std::make_unique<BrowserPreload>(
        *m_window, [this] { return !m_common->Busy && (m_firstCycleDone || !m_setting.Etc.AutoDownLoad); },
        [this] { Guarded("BrowserPreload", [this] { m_window->YpLike().Prepare(); }); });
    QObject::connect(m_cycle.get(), &RefreshCycle::CycleFinished, m_window.get(), [this] { m_firstCycleDone = true; });

    connectEngine();
    connectSettings();
    connectActions();
    QObject::connect(m_window.get(), &TkavoMain::Initializing, m_window.get(), [this] { startUpSteps(); });
}

Program::~Program()
{
    // A cycle still running reads the visited-URL store and reports to the window.
    m_net->Stop();
    m_net->OnSuccess = nullptr;
    m_net->OnComplate = nullptr;
    m_net->OnError = nullptr;
    m_net->OnYpError = nullptr;
    m_net->OnCycleError = nullptr;
    m_net->OnProgress = nullptr;
    m_net->SetVisitedUrls(nullptr);
    m_common->OnTemplateError = nullptr;
    m_common->FindValueSource = nullptr;
    m_notifyMgr->OnPlayChannel = nullptr;
}

void Program::connectEngine()
{
    TkavoMain& window = *m_window;
    m_common->OnTemplateError = [&window](const std::string& message) {
        ShowMessage(window, QMessageBox::Warning, message);
    };
    m_common->FindValueSource = [&window] { return window.Search().FindValue; };
    ConnectMainWindow(*m_notifyMgr, window);
    m_notifyMgr->OnPlayChannel = [this, &window](const NotifyChannel& announced) {
        Guarded("NotifyPlay", [&] {
            ChannelListView* now = window.Views().ListViewNow();
            const int row = announced.Hash.empty() ? -1 : now->Model().FindHash(announced.Hash, 0);
            if (const TkavoChItem* channel = now->Model().Channel(row)) {
                window.Channels().Play(channel->StreamURL, now, channel);
                return;
            }
            // Ended since, or hidden: the stream as announced.
            if (!launcher().PlayChannel(announced.StreamURL, announced.ChannelName, announced.Type))
                launcher().OpenWithDefaultHandler(announced.StreamURL);
        });
    };

    RefreshCycle& cycle = *m_cycle;
    m_net->OnSuccess = [&cycle](TkavoNet&) { Guarded("OnSuccess", [&cycle] { cycle.ListHandler(); }); };
    m_net->OnComplate = [&cycle](TkavoNet&) { Guarded("OnComplate", [&cycle] { cycle.CompletionHandler(); }); };
    m_net->OnYpError = [&cycle](TkavoNet&, const std::string& error, const std::string& ypName) {
        cycle.ErrorHandler(error, ypName);
    };
    m_net->OnCycleError = [&window](TkavoNet&, const std::string& error) {
        ShowMessage(window, QMessageBox::Critical, error);
    };
    m_net->OnProgress = [&window](TkavoNet&, int current, int total, const std::string& title) {
        window.Feedback().Progress(current, total, FromCp932(title));
    };
    m_net->OnRecord = [this](RetrievalRecord& record) { m_history->Record(record); };
}

// Each part takes on what concerns it, in the order of a settings dialog's OK: the empty list's
// hint, the priorities, the lists' columns and look, the window's font and title, the
// notifications, the tools, and last the favorites, whose new marks refill the lists.
void Program::connectSettings()
{
    SettingsHolder* settings = m_settings.get();
    TkavoMain& window = *m_window;
    QObject::connect(settings, &SettingsHolder::Changed, &window.Feedback(), &RefreshFeedback::SettingsChanged);
    QObject::connect(settings, &SettingsHolder::Changed, &window,
                     [](const TkavoSetting& before, const TkavoSetting& after) {
                         const auto priority = [](const TkavoSetting& s) {
                             return std::pair(s.Priority.KAVOProcess, s.Priority.KAVOThread);
                         };
                         if (priority(before) != priority(after))
                             ApplyPriorities(after);
                     });
    QObject::connect(settings, &SettingsHolder::Changed, &window.Views(), &ChannelViews::SettingsChanged);
    QObject::connect(settings, &SettingsHolder::Changed, &window, &TkavoMain::SettingsChanged);
    QObject::connect(settings, &SettingsHolder::Changed, m_notifyMgr.get(), &TkavoNotifyMgr::SettingsChanged);
    QObject::connect(settings, &SettingsHolder::Changed, &window.Channels(), &ChannelActions::SettingsChanged);
    // Favorites edited while a cycle runs are matched by its finish step, before its lists show.
    QObject::connect(settings, &SettingsHolder::Changed, &window,
                     [this](const TkavoSetting& before, const TkavoSetting& after) {
                         if (!SameFavorites(before, after) && m_net->RematchFavorites())
                             m_window->Views().RefillViews();
                     });

    // The rules file followed takes kavo's own changes; what it brings in is told in the status
    // bar, and why it cannot be followed as a notification.
    RulesFollower* rules = m_rules.get();
    QObject::connect(settings, &SettingsHolder::Changed, rules, &RulesFollower::SettingsChanged);
    QObject::connect(rules, &RulesFollower::Applied, &window, [&window](const QString& summary) {
        DebugLog::Line("rules", summary.toStdString());
        window.statusBar()->showMessage(summary, 10000);
    });
    QObject::connect(rules, &RulesFollower::Problem, &window, [this](const QString& message) {
        DebugLog::Line("rules", message.toStdString());
        TkavoNotifyItem item;
        item.Title = m_setting.Etc.ApplicationTitle;
        item.Text = ToCp932(message);
        item.Kind = 1;
        m_notifyMgr->Notify(item, false);
    });
    // "Do not ask again" before playing a doubtful channel is a setting like any other.
    QObject::connect(&window.Channels(), &ChannelActions::PlayHintQuestionsDeclined, &window, [this] {
        TkavoSetting edited = m_settings->Current();
        edited.Operation.AskPlayHint = false;
        if (const std::optional<std::string> problem = m_settings->Commit(edited))
            m_window->statusBar()->showMessage(FromCp932(*problem), 10000);
    });
    // Last: the refresh for a YP just enabled sees every part set up for the new settings.
    QObject::connect(settings, &SettingsHolder::Changed, m_cycle.get(), &RefreshCycle::SettingsChanged);
}

void Program::connectActions()
{
    TkavoMain& window = *m_window;
    const ActionTable& actions = window.Actions();
    QAction* canDms = actions[FileCanDMS];
    m_net->CanDMS = canDms->isChecked();
    QObject::connect(canDms, &QAction::toggled, &window, [this](bool on) { m_net->CanDMS = on; });
    actions.Connect(MainHelpInitDMS, &window, [this, &window] {
        bool ok = m_net->RecreateScriptEngine();
        if (m_scripts && !m_scripts->Reset())
            ok = false; // a start-up or exit script still runs
        QMessageBox::information(&window, window.windowTitle(),
                                 ok ? QString::fromUtf8("成功") : QString::fromUtf8("失敗"));
    });
    actions.Connect(MainHelpStartPeerCast, &window, [this] { launcher().PlayChannel("", "", ""); });
    actions.Connect(MainHelpExitPeerCast, &window, [this] { exitPeerCast(); });
    QObject::connect(actions[FileExitAll], &QAction::triggered, &window, [this, &window] {
        Guarded("ActionFileExitAll", [this] { exitPeerCast(); });
        window.close();
    });
}

void Program::Start()
{
    const IniFile& settingsFile = *m_settingsFile;
    m_common->InitColumnNames();
    m_common->ReadTheme(settingsFile);
    m_settings->Load(settingsFile);
    m_notifyMgr->ApplyTimers();
    m_net->Prepare(settingsFile);
    ApplyPriorities(m_setting);
    m_window->InitialSetup(settingsFile);
    m_settingsFile.reset();

    QSystemTrayIcon& tray = m_notifyMgr->JvTrayIcon();
    tray.setContextMenu(m_window->Frame().PopupMenuTrayIcon());
    if (!QApplication::windowIcon().isNull())
        tray.setIcon(QApplication::windowIcon());
    m_cycle->Arm();
    m_window->TimerInitialize.start();

    if (!m_settingsProblem.empty())
        m_window->statusBar()->showMessage(FromCp932(m_settingsProblem));
    m_window->SetHistory(*m_history);
    Guarded("LoadLastList", [this] {
        auto previous = std::make_unique<TkavoChList>();
        if (LoadLastList(*m_history, m_setting, *previous) > 0)
            m_window->Views().ShowPreviousList(std::move(previous), *m_window->statusBar());
    });
}

void Program::Show()
{
    m_window->RestorePlacement();
}

// The start-up timer's steps after the frame's own.
void Program::startUpSteps()
{
    Guarded("StartPeerCast", [this] { launcher().PlayChannel("", "", ""); });
    Guarded("OnCreate", [this] {
        if (m_window->Actions()[FileCanDMS]->isChecked() && !m_setting.Event.OnCreate.empty())
            scripts().Start(m_setting.Event.OnCreate, ProgramFolder());
    });
    // Before the first refresh, which fetches the YPs the file may bring.
    Guarded("FollowRules", [this] { m_rules->Start(); });
    allowRefreshOncePeerCastAnswers();
    Guarded("ApplyTray", [this] { m_notifyMgr->ApplyTray(); });
    m_common->Initialized = true;
    if (m_services.PreloadBrowser)
        m_preload->Start();
}

void Program::allowRefreshOncePeerCastAnswers()
{
    // A server started a moment ago refuses its status page: the first list would lack its marks
    // and the manual refresh would be locked for a minute. It gets up to ten seconds.
    constexpr int pollMs = 100;
    constexpr int polls = 100;
    bool starting = false;
    Guarded("StartPeerCastWait", [this, &starting] { starting = launcher().PeerCastStarting(); });
    if (!starting) {
        m_cycle->AllowRefresh();
        return;
    }
    auto* wait = new QTimer(m_window.get());
    wait->setInterval(pollMs);
    QObject::connect(wait, &QTimer::timeout, m_window.get(), [this, wait, left = polls]() mutable {
        bool again = false;
        Guarded("StartPeerCastWait", [this, &again, &left] { again = --left > 0 && launcher().PeerCastStarting(); });
        if (again)
            return;
        wait->deleteLater();
        wait->stop();
        m_cycle->AllowRefresh();
    });
    wait->start();
}

void Program::exitPeerCast()
{
    if (launcher().EndPeerCast() > 0)
        return;
    const QString message = QString::fromUtf8("終了したPeerCastはありません: 起動したものも、状態アドレスで待ち受ける"
                                              "同じプログラムのものも見つかりませんでした");
    DebugLog::Line("ExitPeerCast", message.toStdString());
    m_window->statusBar()->showMessage(message, 10000);
}

Launcher& Program::launcher()
{
    if (!m_launcher) {
        m_visited = std::make_unique<VisitedUrls>(ProgramFolder() + "/" + VisitedUrls::FileName);
        m_net->SetVisitedUrls(m_visited.get());
        TkavoMain* window = m_window.get();
        m_launcher = std::make_unique<Launcher>(
            m_setting, ProgramFolder(),
            [this](const std::string& text, const TkavoChItem* channel) {
                return m_common->ExpandChannelTags(channel, m_common->ExpandPathTags(text));
            },
            [window](const std::string& caption, const std::string& prompt, const std::string& value) {
                bool ok = false;
                const QString answer = GetInputText(window, FromCp932(caption), FromCp932(prompt), QLineEdit::Normal,
                                                    FromCp932(value), &ok);
                return ok ? Utf8ToCp932(answer.toStdString()) : value;
            },
            m_visited.get(), *m_services.Starter);
        m_launcher->OnRefused = [window](const std::string& message) {
            window->statusBar()->showMessage(FromCp932(message), 10000);
        };
        m_launcher->OnFailed = [window](const std::string& message) {
            window->statusBar()->showMessage(FromCp932(message), 30000);
        };
    }
    return *m_launcher;
}

EventScripts& Program::scripts()
{
    if (!m_scripts)
        m_scripts = std::make_unique<EventScripts>();
    return *m_scripts;
}

} // namespace kavo
