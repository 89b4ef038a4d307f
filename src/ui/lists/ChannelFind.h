#pragma once

#include <QObject>

class QStackedWidget;

namespace kavo {

class ActionTable;
class ChannelActions;
class ChannelViews;
class TkavoFind;
struct FindState;

// Searching the channel lists: the find dialog for the current view or for the YP-style page, and
// clearing the marks.
class ChannelFind : public QObject
{
    Q_OBJECT

public:
    // pages: the window's pages, on air, ended and the YP-style page in that order.
    ChannelFind(TkavoFind& dialog, const FindState& find, ChannelViews& views, const ChannelActions& channelActions,
                const ActionTable& actions, const QStackedWidget& pages, QObject* parent = nullptr);

    // The search for the current view (Ctrl+F); on the YP-style page, the page's search.
    void FindChannel();
    // The search for the YP-style page (F3); on the other pages, the current view's search.
    void FindChannel2();
    // Clears the marks of the current page's list and ends a kept search (Esc).
    void FindClear();

signals:
    // The YP-style page is to show the search at once.
    void YpLikeSearched();

private:
    TkavoFind& m_dialog;
    const FindState& m_find;
    ChannelViews& m_views;
    const ChannelActions& m_channelActions;
    const ActionTable& m_actions;
    const QStackedWidget& m_pages;
};

} // namespace kavo
