#include "ui/lists/ChannelActions.h"

#include "ui/Cp932Text.h"

#include "common/Launcher.h"
#include "common/ukavoCommon.h"
#include "core/FavoriteMatcher.h"
#include "net/AdminCommand.h"
#include "net/LocalChannels.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "settings/TkavoSetting.h"
#include "ui/app/DebugLog.h"
#include "ui/lists/ChannelListView.h"
#include "ui/notify/ukavoNotifyMgr.h"
#include "ui/window/ActionTable.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>

#include <optional>

namespace kavo {

using DebugLog::Guarded;

namespace {

// A menu caption that shows the text as it is: "&" would mark an access key.
QString LiteralCaption(const std::string& cp932)
{
    QString text = FromCp932(cp932);
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return text;
}

// "previous -> current" with entities decoded, or "" when the two are the same.
std::string ChangeCaption(const std::string& previous, const std::string& current)
{
    if (previous == current)
        return {};
    return HtmlDecode(previous) + " -> " + HtmlDecode(current);
}

// The local server's address as "http://host:port", from URL/LocalChInfoAddr.
std::optional<std::string> LocalServer(const TkavoSetting& setting)
{
    std::string host;
    int port = 0;
    if (!HostAndPortOf(setting.URL.LocalChInfoAddr, host, port))
        return std::nullopt;
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]"; // an IPv6 address
    return "http://" + host + ":" + std::to_string(port);
}

} // namespace

ChannelActions::ChannelActions(const TkavoSetting& setting, TkavoCommon& common, const ActionTable& actions,
                               std::function<Launcher&()> launcher, TkavoNet& net, TkavoNotifyMgr& notifyMgr,
                               QWidget* window)
    : QObject(window), m_setting(setting), m_common(common), m_actions(actions), m_launcher(std::move(launcher)),
      m_net(net), m_notifyMgr(notifyMgr), m_popupMenuListItem(new QMenu(window))
{
    connectActions();
    buildPopupMenu();
}

ChannelActions::~ChannelActions()
{
    // While this object still takes the request's end.
    m_admin.reset();
}

void ChannelActions::connectActions()
{
    using enum ActionId;
    m_actions.Connect(LVPlay, this, [this] { PlaySelected(m_view); });
    m_actions.Connect(LVPlayDirect, this, [this] { PlaySelected(m_view, true); });
    const auto open = [this](std::string TkavoChItem::*field) {
        return [this, field] {
            const TkavoChItem* channel = m_view ? m_view->SelectedChannel() : nullptr;
            // Copied: opening may run a dialog, and a refill during it frees the record.
            if (const std::string url = channel ? channel->*field : std::string(); !url.empty())
                m_launcher().OpenUrl(url);
        };
    };
    m_actions.Connect(LVOpenContact, this, open(&TkavoChItem::ContactURL));
    m_actions.Connect(LVOpenChat, this, open(&TkavoChItem::ChatURL));
    m_actions.Connect(LVOpenStatistics, this, open(&TkavoChItem::StatisticsURL));
    m_actions.Connect(LVCopy, this, [this] { CopySelected(); });
    m_actions.Connect(LVAdminCmdStop, this, [this] { adminCommand(false); });
    m_actions.Connect(LVAdminCmdBump, this, [this] { adminCommand(true); });
    m_actions.Connect(LVViewRelayInfo, this, [this] { viewRelayInfo(); });
    m_actions.Connect(LVNotifyTest, this, [this] { notifyTest(); });
    m_actions.Connect(LVClear, this, [this] { clearLog(); });
    // ActionLVOpen and the change-text items only show something; they do nothing.
}

void ChannelActions::buildPopupMenu()
{
    using enum ActionId;
    QMenu* menu = m_popupMenuListItem;
    menu->setObjectName(QStringLiteral("PopupMenuListItem"));
    menu->addAction(m_actions[LVPlay]);
    menu->addSeparator();
    menu->addAction(m_actions[LVOpenContact]);
    menu->addAction(m_actions[LVOpenChat]);
    menu->addAction(m_actions[LVOpenStatistics]);
    menu->addSeparator();

    m_toolMenu = menu->addMenu(QString::fromUtf8("ツール(&T)"));
    m_toolMenu->setObjectName(QStringLiteral("mnuLVTool"));
    connect(m_toolMenu, &QMenu::aboutToShow, this, [this] { Guarded("mnuLVTool", [this] { BuildToolMenus(); }); });

    QMenu* admin = menu->addMenu(QStringLiteral("Admin"));
    admin->setObjectName(QStringLiteral("Admin1"));
    admin->addAction(m_actions[LVAdminCmdStop]);
    admin->addAction(m_actions[LVAdminCmdBump]);
    admin->addAction(m_actions[LVViewRelayInfo]);

    QMenu* other = menu->addMenu(QString::fromUtf8("その他(&O)"));
    other->setObjectName(QStringLiteral("N10"));
    other->addAction(m_actions[LVPlayDirect]);
    other->addAction(m_actions[LVClear]);
    other->addAction(m_actions[LVNotifyTest]);

    // The YP-style page puts its lite-mode items here.
    m_liteMenu = new QMenu(menu);
    m_liteMenu->setObjectName(QStringLiteral("L1"));
    m_actions[LVYpLikeLite]->setMenu(m_liteMenu);
    menu->addAction(m_actions[LVYpLikeLite]);
    menu->addSeparator();

    menu->addAction(m_actions[LVCopy]);
    addFindItems(menu);
    menu->addSeparator();

    auto* change = new QMenu(menu);
    change->setObjectName(QStringLiteral("N6"));
    change->addAction(m_actions[LVChangeGenreAndDesc]);
    change->addAction(m_actions[LVChangePlaying]);
    change->addAction(m_actions[LVChangeComment]);
    m_actions[LVChange]->setMenu(change);
    menu->addAction(m_actions[LVChange]);

    connect(menu, &QMenu::aboutToShow, this, [this] { Guarded("PopupMenuListItem", [this] { PrepareListMenu(); }); });
}

void ChannelActions::addFindItems(QMenu* menu)
{
    using enum ActionId;
    menu->addAction(m_actions[LVFindChannel]);
    menu->addAction(m_actions[LVFindClear]);
}

void ChannelActions::Attach(ChannelListView* view)
{
    view->addAction(m_actions[ActionId::LVCopy]); // Ctrl+C while a list has the focus
    connect(view, &ChannelListView::DoubleClickedRow, this, [this, view] {
        if (m_setting.Operation.MouseDClickChOpen)
            PlaySelected(view);
    });
    connect(view, &ChannelListView::EnterPressed, this, [this, view] {
        if (m_setting.Operation.KeyEnterChOpen)
            PlaySelected(view);
    });
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& at) { m_popupMenuListItem->popup(view->viewport()->mapToGlobal(at)); });
    connect(&view->Model(), &QAbstractItemModel::modelAboutToBeReset, this, [this] { ++m_fills; });
}

void ChannelActions::PlaySelected(ChannelListView* view, bool direct)
{
    const TkavoChItem* channel = view ? view->SelectedChannel() : nullptr;
    // A line without a channel ID ("◆Status" and the like) is the YP's news, not a stream.
    if (!channel || !channel->HasHash())
        return;
    Play(direct ? channel->DirectStreamURL : channel->StreamURL, view, channel);
}

void ChannelActions::Play(const std::string& url, ChannelListView* view, const TkavoChItem* channel)
{
    Guarded("PlayChannel", [&] {
        // Copied: playing may run a dialog, and a refill during it frees the record.
        const std::string played = url; // NOLINT(performance-unnecessary-copy-initialization)
        const std::string name = channel ? channel->ChannelName : std::string();
        const std::string type = channel ? channel->Type : std::string();
        const unsigned fills = m_fills;
        if (channel && m_setting.Operation.AskPlayHint) {
            const PlayHint hint = m_common.ChannelPlayHint(*channel);
            if (hint != PlayHint::None && !askPlayAnyway(hint))
                return;
        }
        m_launcher().PlayOrOpen(played, name, type);
        if (channel && fills == m_fills && m_setting.URL.LocalChInfo) {
            markChannel(view, *channel, true);
            requestYpLikeRebuild();
        }
    });
}

bool ChannelActions::askPlayAnyway(PlayHint hint)
{
    QWidget* window = qobject_cast<QWidget*>(parent());
    QMessageBox question(QMessageBox::Question, window ? window->windowTitle() : QString(),
                         QString::fromUtf8("このチャンネルは再生できないかもしれません:\n%1\n\n再生しますか?")
                             .arg(FromCp932(PlayHintTip(hint))),
                         QMessageBox::Yes | QMessageBox::No, window);
    question.setDefaultButton(QMessageBox::Yes);
    auto* never = new QCheckBox(QString::fromUtf8("今後は確認しない"), &question);
    never->setObjectName(QStringLiteral("DoNotAskAgain"));
    question.setCheckBox(never);
    const bool yes = question.exec() == QMessageBox::Yes;
    if (never->isChecked())
        emit PlayHintQuestionsDeclined();
    return yes;
}

bool ChannelActions::adminAllowed(const TkavoChItem* channel) const
{
    // A server that did not answer the last status read keeps the marks of an earlier one, but is
    // not there to take a command.
    return channel && m_setting.URL.LocalChInfo && !channel->LocalStatus.empty() && !m_net.Running() &&
           !m_common.Busy && m_net.LastCycle().LocalAnswered;
}

bool ChannelActions::AdminCommandRunning() const
{
    return m_admin && m_admin->Running();
}

void ChannelActions::SetAdminTimeout(int seconds)
{
    if (!AdminCommandRunning()) {
        m_admin.reset();
        m_adminTimeout = seconds;
    }
}

void ChannelActions::PrepareListMenu()
{
    using enum ActionId;
    const TkavoChItem* channel = m_view ? m_view->SelectedChannel() : nullptr;
    const bool playable = channel && channel->HasHash();
    m_actions[LVPlay]->setEnabled(playable && !channel->StreamURL.empty());
    m_actions[LVPlayDirect]->setEnabled(playable && !channel->DirectStreamURL.empty());
    m_actions[LVOpenContact]->setEnabled(channel && !channel->ContactURL.empty());
    m_actions[LVOpenChat]->setEnabled(channel && !channel->ChatURL.empty());
    m_actions[LVOpenStatistics]->setEnabled(channel && !channel->StatisticsURL.empty());
    m_actions[LVNotifyTest]->setEnabled(channel != nullptr);
    m_actions[LVCopy]->setEnabled(channel != nullptr);

    m_actions[LVClear]->setEnabled(m_actions[TabLog]->isChecked());
    const bool ypLike = m_actions[TabYpLike]->isChecked();
    m_actions[LVYpLikeLite]->setEnabled(ypLike);
    m_actions[LVYpLikeLite]->setVisible(ypLike);

    // A command on its way keeps stop and bump off until it ends, or opening the menu would let
    // a second one start.
    const bool admin = adminAllowed(channel);
    m_actions[LVAdminCmdStop]->setEnabled(admin && !AdminCommandRunning());
    m_actions[LVAdminCmdBump]->setEnabled(admin && !AdminCommandRunning());
    m_actions[LVViewRelayInfo]->setEnabled(admin);

    const bool changed = channel && channel->Diff == TkavoDiff::Change;
    m_actions[LVChange]->setEnabled(changed);
    if (changed) {
        m_actions[LVChangeGenreAndDesc]->setText(
            LiteralCaption(ChangeCaption(channel->PrevGenreDescription(), channel->GenreDescription())));
        m_actions[LVChangePlaying]->setText(LiteralCaption(ChangeCaption(channel->PrevPlaying, channel->Playing)));
        m_actions[LVChangeComment]->setText(LiteralCaption(ChangeCaption(channel->PrevComment, channel->Comment)));
    }
}

void ChannelActions::CopySelected()
{
    const TkavoChItem* channel = m_view ? m_view->SelectedChannel() : nullptr;
    if (!channel)
        return;
    QGuiApplication::clipboard()->setText(QString::fromStdString(Cp932ToUtf8(m_common.RenderClipboardText(*channel))));
}

void ChannelActions::markChannel(ChannelListView* view, const TkavoChItem& channel, bool relaying)
{
    if (!(relaying ? m_net.MarkRelaying(channel) : m_net.MarkStopped(channel)))
        return;
    if (view)
        view->Model().RowChanged(view->Model().RowOf(&channel));
}

void ChannelActions::requestYpLikeRebuild()
{
    if (m_actions[ActionId::TabYpLike]->isChecked())
        emit YpLikeRebuildNeeded();
}

void ChannelActions::adminCommand(bool bump)
{
    using enum ActionId;
    const TkavoChItem* channel = m_view ? m_view->SelectedChannel() : nullptr;
    // A shortcut reaches the action without the menu's preparation: the same rules hold.
    if (!adminAllowed(channel) || AdminCommandRunning())
        return;
    if (bump && !HasSourceConnection(channel->LocalStatus)) {
        const unsigned fills = m_fills;
        const ChannelListView* view = m_view;
        QWidget* window = qobject_cast<QWidget*>(parent());
        const QMessageBox::StandardButton answer =
            QMessageBox::question(window, window ? window->windowTitle() : QString(),
                                  QString::fromUtf8("このリレーは配信元につながっていません (%1)。\n"
                                                    "Bumpするとサーバーにその指示が残り、次の視聴者が切断されたり"
                                                    "チャンネルが消えたりすることがあります。Bumpしますか?")
                                      .arg(FromCp932(channel->LocalStatus)),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        // The lists may have been refilled meanwhile: the row asked about is gone.
        if (answer != QMessageBox::Yes || fills != m_fills || view != m_view || !adminAllowed(channel) ||
            AdminCommandRunning())
            return;
    }
    const std::string url = AdminCommandUrl(m_setting.URL.LocalChInfoAddr, bump ? "bump" : "stop", channel->Hash);
    if (url.empty())
        return;
    markChannel(m_view, *channel, bump);

    if (!m_admin)
        m_admin = std::make_unique<AdminCommandWorker>(
            [this](std::function<void()> job) {
                QMetaObject::invokeMethod(this, std::move(job), Qt::QueuedConnection);
            },
            m_adminTimeout);
    m_actions[LVAdminCmdStop]->setEnabled(false);
    m_actions[LVAdminCmdBump]->setEnabled(false);
    const QString command = bump ? QStringLiteral("Bump") : QStringLiteral("Stop");
    const std::function<void(const std::string&)> onEnd = [this, command](const std::string& failure) {
        Guarded("JvThreadAdminCmd", [this, &command, &failure] {
            if (m_setting.URL.LocalChInfo) {
                m_actions[LVAdminCmdStop]->setEnabled(true);
                m_actions[LVAdminCmdBump]->setEnabled(true);
            }
            if (!failure.empty())
                emit StatusMessage(
                    QString::fromUtf8("PeerCastに %1 を送れませんでした: %2").arg(command, FromCp932(failure)));
            requestYpLikeRebuild();
        });
    };
    const bool started = m_admin->Start(url, onEnd);
    if (!started) {
        m_actions[LVAdminCmdStop]->setEnabled(true);
        m_actions[LVAdminCmdBump]->setEnabled(true);
    }
}

void ChannelActions::viewRelayInfo()
{
    const TkavoChItem* channel = m_view ? m_view->SelectedChannel() : nullptr;
    if (!adminAllowed(channel))
        return;
    if (const std::optional<std::string> server = LocalServer(m_setting))
        m_launcher().OpenUrl(*server + "/html/ja/relayinfo.html?id=" + channel->Hash);
}

void ChannelActions::notifyTest()
{
    const TkavoChItem* channel = m_view ? m_view->SelectedChannel() : nullptr;
    if (!channel)
        return;
    TkavoChList list;
    TkavoChItem& copy = list.Add(std::make_unique<TkavoChItem>());
    copy.Assign(*channel);
    MatchFavorites(copy, m_setting.Favorites, m_common.RegExp, m_setting.Etc.TwoChPtn);
    m_notifyMgr.NotifyChannels(list);
}

void ChannelActions::clearLog()
{
    if (!m_view || !m_actions[ActionId::TabLog]->isChecked())
        return;
    // The rows point into the log that is emptied. While a cycle runs, the log is emptied when it
    // ends, and its refill shows that.
    m_view->Model().Fill(TkavoChList());
    m_net.ClearLog();
    if (!m_net.Running())
        m_view->Model().Fill(m_net.ChListLog());
}

void ChannelActions::SetMainToolMenu(QMenu* menu)
{
    m_mainToolMenu = menu;
    connect(menu, &QMenu::aboutToShow, this, [this] { Guarded("mnuMainTool", [this] { BuildToolMenus(); }); });
    BuildToolMenus();
}

void ChannelActions::BuildToolMenus()
{
    for (QMenu* menu : {m_mainToolMenu, m_toolMenu})
        if (menu)
            fillToolMenu(menu);
}

void ChannelActions::SettingsChanged(const TkavoSetting& before, const TkavoSetting& after)
{
    if (before.Tools != after.Tools)
        BuildToolMenus();
}

void ChannelActions::fillToolMenu(QMenu* menu)
{
    menu->clear();
    if (m_setting.Tools.empty()) {
        menu->addAction(QString::fromUtf8("なし"));
        return;
    }
    for (std::size_t i = 0; i < m_setting.Tools.size(); ++i) {
        const QString title = FromCp932(std::string(TkavoSetting::ToolTitle(m_setting.Tools[i])));
        QAction* item = menu->addAction(title);
        // The entry itself, not its title: two entries may share one.
        connect(item, &QAction::triggered, this,
                [this, i, title] { Guarded("ToolMenuClick", [&] { runTool(i, title); }); });
    }
}

void ChannelActions::runTool(std::size_t entry, const QString& title)
{
    // The settings were replaced since the menu was built: the item names another entry now.
    if (entry >= m_setting.Tools.size() ||
        FromCp932(std::string(TkavoSetting::ToolTitle(m_setting.Tools[entry]))) != title)
        return;
    const std::string command(TkavoSetting::ToolCommandOf(m_setting.Tools[entry]));
    // Copied: the command may ask for a parameter, and a refill during the prompt frees the record.
    std::unique_ptr<TkavoChItem> channel;
    if (const TkavoChItem* selected = m_view ? m_view->SelectedChannel() : nullptr) {
        channel = std::make_unique<TkavoChItem>();
        channel->Assign(*selected);
    }
    m_launcher().RunCommand(command, channel.get());
}

} // namespace kavo
