#pragma once

#include "common/YpLikePage.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class QMenu;
class QWidget;

namespace kavo {

class ActionTable;
class ChannelActions;
class TkavoChList;
class TkavoCommon;
class HtmlView;
class Launcher;
class ChannelListView;
class IniFile;
class TkavoSetting;

// The YP-style page ("YP風表示"): the on-air channels as one HTML page built from the theme's
// templates. Its options and menus exist from the start; the browser is made when the page is
// first shown.
class YpLikeView : public QObject
{
    Q_OBJECT

public:
    // Everything handed in must outlive this object.
    YpLikeView(const TkavoSetting& setting, TkavoCommon& common, const ActionTable& actions,
               ChannelActions& channelActions, ChannelListView* listViewNow, std::function<const TkavoChList&()> chList,
               std::function<Launcher&()> launcher, QWidget* window);
    ~YpLikeView() override;

    // The page of the page control that holds the browser.
    QWidget* Page() const { return m_page; }
    // "YP風表示(&Y)" of the view menu.
    QMenu* ViewMenu() const { return m_viewMenu; }
    // The page's options in the settings file's [Window]: the lite mode, the scroll position and
    // the way the page is loaded. Reading sets the actions and captions.
    void ReadOptions(const IniFile& ini);
    void WriteOptions(IniFile& ini) const;
    // The lite mode as the actions and prompts left it.
    const YpLikeLiteOptions& Lite() const { return m_lite; }

    // Makes the browser ahead of its first showing, with an empty page, so that showing it later
    // does not wait for the browser to start.
    void Prepare();
    // The page became the current one: makes the browser on first show and builds the page at its
    // first showing, or when `stale`.
    void Shown(bool stale);
    // Builds the page and loads it, when the browser exists.
    void Build();
    bool Created() const { return m_view != nullptr; }
    HtmlView* View() const { return m_view.get(); }
    // Keys and the wheel go to the page.
    void FocusPage();
    // The link handling: what a click on `target` (the href, UTF-8) does.
    void LinkClicked(const QString& target);
    // The temporary file is navigated to afresh at the next build (mode or theme changed).
    void ForgetTempFile() { m_tempFile.clear(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // A lite option changed; stale: the page shows something else now.
    void LiteChanged(bool stale);
    // A sort link asks to sort the on-air view by this column.
    void SortRequested(int column);
    // The URL under the mouse, for status panel 2.
    void StatusText(const QString& text);
    // A load ended (tests wait for it).
    void Loaded(bool ok);

private:
    void wireActions();
    bool createView();
    void embedWhenDrawable();
    void applyLite(const YpLikeLiteOptions& lite);
    void liteTriggered(std::size_t index);
    void updateCaptions();
    void load(const std::string& page);
    void loadFinished(bool ok);
    void scriptError(const QString& message, int line, const QString& source);

    const TkavoSetting& m_setting;
    TkavoCommon& m_common;
    YpLikeLiteOptions m_lite;
    const ActionTable& m_actions;
    ChannelActions& m_channelActions;
    ChannelListView* m_listViewNow;
    std::function<const TkavoChList&()> m_chList;
    std::function<Launcher&()> m_launcher;
    QWidget* m_window;
    QWidget* m_page;
    QMenu* m_viewMenu;
    QMenu* m_liteMenu;
    QPointer<QWidget> m_host;       // the browser's own window, embedded in the page
    QWidget* m_container = nullptr; // embeds it
    std::unique_ptr<HtmlView> m_view;
    bool m_viewFailed = false; // the browser cannot be made: the page says why
    bool m_built = false;      // a page was built
    int m_scrollTop = -1;
    std::string m_tempFile; // file system path, UTF-8
};

} // namespace kavo
