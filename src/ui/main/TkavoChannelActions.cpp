#include "ui/main/TkavoChannelActions.h"

#include "common/Launcher.h"
#include "common/ukavoCommon.h"
#include "platform/Cp932.h"
#include "settings/ukavoConfig.h"
#include "ui/main/TkavoActions.h"
#include "ui/main/TkavoDebugLog.h"
#include "ui/main/TkavoListView.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

#include <algorithm>
#include <array>
#include <tuple>

namespace kavo {

using DebugLog::Guarded;

TkavoChannelActions::TkavoChannelActions(const TkavoSetting& setting, TkavoCommon& common, const TkavoActions& actions,
                                         std::function<TkavoLauncher&()> launcher, QWidget* window)
    : QObject(window), m_setting(setting), m_common(common), m_actions(actions), m_launcher(std::move(launcher)),
      m_popupMenuListItem(new QMenu(window))
{
    using enum TkavoActionId;
    const auto connectAction = [this](TkavoActionId id, const char* where, auto handler) {
        connect(m_actions[id], &QAction::triggered, this, [where, handler] { Guarded(where, handler); });
    };
    connectAction(LVPlay, "ActionLVPlay", [this] { PlaySelected(m_view); });
    connectAction(LVPlayDirect, "ActionLVPlayDirect", [this] { PlaySelected(m_view, true); });
    const std::array<std::tuple<TkavoActionId, const char*, std::string TkavoChItem::*>, 3> opens = {{
        {LVOpenContact, "ActionLVOpenContact", &TkavoChItem::ContactURL},
        {LVOpenChat, "ActionLVOpenChat", &TkavoChItem::ChatURL},
        {LVOpenStatistics, "ActionLVOpenStatistics", &TkavoChItem::StatisticsURL},
    }};
    for (const auto& [id, where, field] : opens)
        connectAction(id, where, [this, field] {
            const TkavoChItem* channel = m_view ? m_view->SelectedChannel() : nullptr;
            // Copied: opening may run a dialog, and a refill during it frees the record.
            if (const std::string url = channel ? channel->*field : std::string(); !url.empty())
                m_launcher().OpenUrl(url);
        });
    connectAction(LVCopy, "ActionLVCopy", [this] { CopySelected(); });

    QMenu* menu = m_popupMenuListItem;
    menu->setObjectName(QStringLiteral("PopupMenuListItem"));
    menu->addAction(m_actions[LVPlay]);
    menu->addSeparator();
    menu->addAction(m_actions[LVOpenContact]);
    menu->addAction(m_actions[LVOpenChat]);
    menu->addAction(m_actions[LVOpenStatistics]);
    menu->addSeparator();
    QMenu* other = menu->addMenu(QString::fromUtf8("その他(&O)"));
    other->setObjectName(QStringLiteral("N10"));
    other->addAction(m_actions[LVPlayDirect]);
    menu->addSeparator();
    menu->addAction(m_actions[LVCopy]);
    connect(menu, &QMenu::aboutToShow, this, [this] { PrepareListMenu(); });
}

void TkavoChannelActions::Attach(TkavoListView* view)
{
    view->addAction(m_actions[TkavoActionId::LVCopy]); // Ctrl+C while a list has the focus
    connect(view, &TkavoListView::DoubleClickedRow, this, [this, view] {
        if (m_setting.Operation.MouseDClickChOpen)
            PlaySelected(view);
    });
    connect(view, &TkavoListView::EnterPressed, this, [this, view] {
        if (m_setting.Operation.KeyEnterChOpen)
            PlaySelected(view);
    });
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& at) { m_popupMenuListItem->popup(view->viewport()->mapToGlobal(at)); });
}

void TkavoChannelActions::PlaySelected(TkavoListView* view, bool direct)
{
    Guarded("PlayChannel", [&] {
        TkavoChItem* channel = view ? view->SelectedChannel() : nullptr;
        if (!channel)
            return;
        // Copied: playing may run a dialog, and a refill during it frees the record.
        const std::string url = direct ? channel->DirectStreamURL : channel->StreamURL;
        Play(url, std::string(channel->ChannelName), std::string(channel->Type), channel);
    });
}

void TkavoChannelActions::Play(const std::string& url, const std::string& name, const std::string& type,
                               TkavoChItem* playItem)
{
    const std::string hash = playItem ? playItem->Hash : std::string();
    if (!m_launcher().PlayChannel(url, name, type))
        m_launcher().OpenWithDefaultHandler(url);
    if (!playItem || !m_setting.URL.LocalChInfo || !m_view)
        return;
    // Playing may have run a dialog; the record is only used when the view still shows it.
    const auto& rows = m_view->Model().Rows();
    if (std::find(rows.begin(), rows.end(), playItem) == rows.end() || playItem->Hash != hash)
        return;
    playItem->LocalStatus = "CONNECT";
    playItem->Diff = TkavoDiff::Relaying;
    m_view->viewport()->update();
    emit Marked();
}

void TkavoChannelActions::PrepareListMenu()
{
    using enum TkavoActionId;
    const TkavoChItem* channel = m_view ? m_view->SelectedChannel() : nullptr;
    m_actions[LVPlay]->setEnabled(channel && !channel->StreamURL.empty());
    m_actions[LVPlayDirect]->setEnabled(channel && !channel->DirectStreamURL.empty());
    m_actions[LVOpenContact]->setEnabled(channel && !channel->ContactURL.empty());
    m_actions[LVOpenChat]->setEnabled(channel && !channel->ChatURL.empty());
    m_actions[LVOpenStatistics]->setEnabled(channel && !channel->StatisticsURL.empty());
    m_actions[LVCopy]->setEnabled(channel != nullptr);
}

void TkavoChannelActions::CopySelected()
{
    const TkavoChItem* channel = m_view ? m_view->SelectedChannel() : nullptr;
    if (!channel)
        return;
    QGuiApplication::clipboard()->setText(QString::fromStdString(Cp932ToUtf8(m_common.RenderClipboardText(*channel))));
}

} // namespace kavo
