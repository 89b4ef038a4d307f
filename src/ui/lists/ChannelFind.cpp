#include "ui/lists/ChannelFind.h"

#include "core/ChannelSearch.h"
#include "ui/dialogs/ukavoFind.h"
#include "ui/lists/ChannelActions.h"
#include "ui/lists/ChannelViews.h"
#include "ui/window/ActionTable.h"
#include "ui/window/MainFrame.h"

#include <QAction>
#include <QStackedWidget>

namespace kavo {

ChannelFind::ChannelFind(TkavoFind& dialog, const FindState& find, ChannelViews& views,
                         const ChannelActions& channelActions, const ActionTable& actions, const QStackedWidget& pages,
                         QObject* parent)
    : QObject(parent), m_dialog(dialog), m_find(find), m_views(views), m_channelActions(channelActions),
      m_actions(actions), m_pages(pages)
{}

void ChannelFind::FindChannel()
{
    if (m_actions[ActionId::TabYpLike]->isChecked()) {
        FindChannel2();
        return;
    }
    ChannelListView* view = m_channelActions.CurrentView();
    if (m_dialog.exec() != QDialog::Accepted || !view)
        return;
    m_views.ApplyFind(view, m_find.FindValue);
    if (!TrimSearchInput(m_find.FindValue).empty())
        view->viewport()->update();
    else
        m_views.SortView(view, view->Model().LastSortedColumn()); // back to the order moved rows had changed
}

void ChannelFind::FindChannel2()
{
    if (!m_actions[ActionId::TabYpLike]->isChecked()) {
        FindChannel();
        return;
    }
    if (m_dialog.exec() != QDialog::Accepted)
        return;
    ChannelListView* now = m_views.ListViewNow();
    m_views.ApplyFind(now, m_find.FindValue);
    if (TrimSearchInput(m_find.FindValue).empty())
        m_views.SortView(now, now->Model().LastSortedColumn());
    emit YpLikeSearched();
}

void ChannelFind::FindClear()
{
    const bool ypLike = m_pages.currentIndex() == MainFrame::PageYpLike;
    ChannelListView* view =
        m_pages.currentIndex() == MainFrame::PageLog ? m_views.ListViewLog() : m_views.ListViewNow();
    m_views.ClearFind(view);
    // Otherwise the next refresh would bring the marks back.
    m_dialog.EndSearch();
    if (ypLike || m_find.MoveResultsUp)
        m_views.SortView(view, view->Model().LastSortedColumn());
    view->viewport()->update();
}

} // namespace kavo
