#pragma once

#include <QObject>

class QStackedWidget;

namespace kavo {

class TkavoActions;
class TkavoChannelActions;
class TkavoChannelViews;
class TkavoCommon;
class TkavoFind;
struct TkavoFindState;

// Searching the channel lists: the find dialog for the current view or for the YP-style page, and
// clearing the marks.
class TkavoChannelFind : public QObject
{
    Q_OBJECT

public:
    // pages: the window's pages, on air, ended and the YP-style page in that order.
    TkavoChannelFind(TkavoFind& dialog, const TkavoFindState& find, TkavoCommon& common, TkavoChannelViews& views,
                     const TkavoChannelActions& channelActions, const TkavoActions& actions,
                     const QStackedWidget& pages, QObject* parent = nullptr);

    // The search for the current view (Ctrl+F); on the YP-style page, the page's search.
    void FindChannel();
    // The search for the YP-style page (F3); on the other pages, the current view's search.
    void FindChannel2();
    // Clears the marks of the current page's list (Esc).
    void FindClear();

signals:
    // The YP-style page is to show the search at once.
    void YpLikeSearched();

private:
    TkavoFind& m_dialog;
    const TkavoFindState& m_find;
    TkavoCommon& m_common;
    TkavoChannelViews& m_views;
    const TkavoChannelActions& m_channelActions;
    const TkavoActions& m_actions;
    const QStackedWidget& m_pages;
};

} // namespace kavo
