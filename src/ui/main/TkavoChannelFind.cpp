#include "ui/main/TkavoChannelFind.h"

#include "common/ukavoCommon.h"
#include "core/ChannelSearch.h"
#include "ui/dialogs/ukavoFind.h"
#include "ui/main/TkavoActions.h"
#include "ui/main/TkavoChannelActions.h"
#include "ui/main/TkavoChannelViews.h"
#include "ui/main/TkavoFrame.h"

#include <QAction>
#include <QStackedWidget>

namespace kavo {

TkavoChannelFind::TkavoChannelFind(TkavoFind& dialog, const TkavoFindState& find, TkavoCommon& common,
                                   TkavoChannelViews& views, const TkavoChannelActions& channelActions,
                                   const TkavoActions& actions, const QStackedWidget& pages, QObject* parent)
    : QObject(parent), m_dialog(dialog), m_find(find), m_common(common), m_views(views),
      m_channelActions(channelActions), m_actions(actions), m_pages(pages)
{}

void TkavoChannelFind::FindChannel()
{
    if (m_actions[TkavoActionId::TabYpLike]->isChecked()) {
        FindChannel2();
        return;
    }
    TkavoListView* view = m_channelActions.CurrentView();
    if (m_dialog.exec() != QDialog::Accepted || !view)
        return;
    m_views.ApplyFind(view, m_find.FindValue);
    if (!TrimSearchInput(m_find.FindValue).empty())
        view->viewport()->update();
    else
        m_views.SortView(view, view->Model().LastSortedColumn()); // back to the order moved rows had changed
}

void TkavoChannelFind::FindChannel2()
{
    if (!m_actions[TkavoActionId::TabYpLike]->isChecked()) {
        FindChannel();
        return;
    }
    if (m_dialog.exec() != QDialog::Accepted)
        return;
    TkavoListView* now = m_views.ListViewNow();
    m_views.ApplyFind(now, m_find.FindValue);
    if (TrimSearchInput(m_find.FindValue).empty())
        m_views.SortView(now, now->Model().LastSortedColumn());
    emit YpLikeSearched();
}

void TkavoChannelFind::FindClear()
{
    const bool ypLike = m_pages.currentIndex() == TkavoFrame::PageYpLike;
    TkavoListView* view = m_pages.currentIndex() == TkavoFrame::PageLog ? m_views.ListViewLog() : m_views.ListViewNow();
    view->Model().ApplyFind({}, false, m_common.RegExp);
    if (ypLike || m_find.MoveResultsUp)
        m_views.SortView(view, view->Model().LastSortedColumn());
    view->viewport()->update();
}

} // namespace kavo
