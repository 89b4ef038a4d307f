#include "ui/htmlview/YpLikeView.h"

#include "common/Launcher.h"
#include "common/YpLikePage.h"
#include "common/ukavoCommon.h"
#include "platform/Cp932.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "ui/app/DebugLog.h"
#include "ui/app/InputBox.h"
#include "ui/htmlview/HtmlView.h"
#include "ui/lists/ChannelActions.h"
#include "ui/lists/ChannelListView.h"
#include "ui/window/ActionTable.h"

#include <QAction>
#include <QActionGroup>
#include <QCursor>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include <fstream>

namespace kavo {

using DebugLog::Guarded;
using enum ActionId;

namespace {

constexpr ActionId LiteIds[] = {
    MainVisualYpLikeLite0, MainVisualYpLikeLite1, MainVisualYpLikeLite2,  MainVisualYpLikeLite3,
    MainVisualYpLikeLite4, MainVisualYpLikeLite5, MainVisualYpLikeLite6,  MainVisualYpLikeLite7,
    MainVisualYpLikeLite8, MainVisualYpLikeLite9, MainVisualYpLikeLite10,
};
static_assert(std::size(LiteIds) == LiteEntryCount);

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

YpLikeView::YpLikeView(const TkavoSetting& setting, TkavoCommon& common, const ActionTable& actions,
                       ChannelActions& channelActions, ChannelListView* listViewNow,
                       std::function<const TkavoChList&()> chList, std::function<Launcher&()> launcher, QWidget* window)
    : QObject(window), m_setting(setting), m_common(common), m_actions(actions), m_channelActions(channelActions),
      m_listViewNow(listViewNow), m_chList(std::move(chList)), m_launcher(std::move(launcher)), m_window(window),
      m_page(new QWidget), m_viewMenu(new QMenu(U("YP風表示(&Y)"), window)),
      m_liteMenu(new QMenu(U("軽量モード(&L)"), window))
{
    m_page->setObjectName(QStringLiteral("TabSheetYpLike"));
    auto* layout = new QVBoxLayout(m_page);
    layout->setContentsMargins(0, 0, 0, 0);
    wireActions();
}

YpLikeView::~YpLikeView()
{
    // The browser's window goes before the widget that embeds it, which would otherwise delete it
    // from under its widget.
    m_view.reset();
    delete m_host;
}

void YpLikeView::wireActions()
{
    auto* rules = new QActionGroup(this);
    for (std::size_t i = 0; i < std::size(LiteIds); ++i) {
        QAction* action = m_actions[LiteIds[i]];
        if (i > 0)
            rules->addAction(action);
        connect(action, &QAction::toggled, this, [this, i](bool on) { m_lite.Lite[i] = on; });
        m_actions.Connect(LiteIds[i], this, [this, i] { liteTriggered(i); });
    }
    auto* modes = new QActionGroup(this);
    modes->addAction(m_actions[MainVisualYpLikeModeFromStream]);
    modes->addAction(m_actions[MainVisualYpLikeModeFromTempFile]);
    for (ActionId id : {MainVisualYpLikeModeFromStream, MainVisualYpLikeModeFromTempFile})
        m_actions.Connect(id, this, [this] { m_tempFile.clear(); });

    m_liteMenu->setObjectName(QStringLiteral("MenuYpLikeLite"));
    m_liteMenu->addAction(m_actions[MainVisualYpLikeLite0]);
    m_liteMenu->addSeparator();
    for (std::size_t i = 1; i < std::size(LiteIds); ++i)
        m_liteMenu->addAction(m_actions[LiteIds[i]]);
    QMenu* navigate = new QMenu(U("ナビゲート(&N)"), m_viewMenu);
    navigate->addAction(m_actions[MainVisualYpLikeModeFromStream]);
    navigate->addAction(m_actions[MainVisualYpLikeModeFromTempFile]);
    m_viewMenu->setObjectName(QStringLiteral("MenuYpLike"));
    m_viewMenu->addAction(m_actions[MainVisualYpLikeRestorePos]);
    m_viewMenu->addMenu(m_liteMenu);
    m_viewMenu->addMenu(navigate);

    // The lists' context menu offers the same items while the page is the current one.
    QMenu* contextLite = m_channelActions.LiteMenu();
    contextLite->addAction(m_actions[MainVisualYpLikeLite0]);
    contextLite->addSeparator();
    for (std::size_t i = 1; i < std::size(LiteIds); ++i)
        contextLite->addAction(m_actions[LiteIds[i]]);
}

void YpLikeView::ReadOptions(const IniFile& ini)
{
    m_actions.ReadSwitches(ini, {MainVisualYpLikeRestorePos});
    applyLite(ReadLiteOptions(ini));
    m_actions.ReadSwitches(ini, {MainVisualYpLikeModeFromStream, MainVisualYpLikeModeFromTempFile});
    updateCaptions();
}

void YpLikeView::WriteOptions(IniFile& ini) const
{
    m_actions.WriteSwitches(ini, {MainVisualYpLikeRestorePos});
    WriteLiteOptions(ini, m_lite);
    m_actions.WriteSwitches(ini, {MainVisualYpLikeModeFromStream, MainVisualYpLikeModeFromTempFile});
}

void YpLikeView::applyLite(const YpLikeLiteOptions& lite)
{
    // Checking an action of the group unchecks the others, which writes back: the copy is applied.
    m_lite = lite;
    for (std::size_t i = 0; i < std::size(LiteIds); ++i)
        m_actions[LiteIds[i]]->setChecked(lite.Lite[i]);
}

void YpLikeView::updateCaptions()
{
    m_actions[MainVisualYpLikeLite5]->setText(
        QString::fromStdString(LiteRangeCaption(m_lite.CustomMin, m_lite.CustomMax)));
    m_actions[MainVisualYpLikeLite10]->setText(QString::fromStdString(LiteCountCaption(m_lite.CustomCount)));
}

void YpLikeView::liteTriggered(std::size_t index)
{
    if (index == LiteRange) {
        const QString preset = QStringLiteral("%1,%2").arg(m_lite.CustomMin).arg(m_lite.CustomMax);
        bool ok = false;
        const QString answer = GetInputText(m_window, U("YP風表示->軽量モード->カスタム(リスナ)"),
                                            U("最小値,最大値を入力してください"), QLineEdit::Normal, preset, &ok);
        if (ok) {
            if (const auto range = ParseLiteRange(answer.toStdString())) {
                const bool changed = range->first != m_lite.CustomMin || range->second != m_lite.CustomMax;
                m_lite.CustomMin = range->first;
                m_lite.CustomMax = range->second;
                if (changed)
                    updateCaptions();
            }
        }
    } else if (index == LiteTopCustom) {
        bool ok = false;
        const QString answer =
            GetInputText(m_window, U("YP風表示->軽量モード->カスタム(上位)"), U("最大値を入力してください"),
                         QLineEdit::Normal, QString::number(m_lite.CustomCount), &ok);
        if (ok) {
            const int count = ParseLiteCount(answer.toStdString());
            if (count != m_lite.CustomCount) {
                m_lite.CustomCount = count;
                updateCaptions();
            }
        }
    }
    // A rule matters only while the lite mode is on; switching the mode always does.
    emit LiteChanged(index == LiteOn || m_actions[MainVisualYpLikeLite0]->isChecked());
}

bool YpLikeView::createView()
{
    if (m_view || m_viewFailed)
        return m_view != nullptr;
    HtmlViewEvents events;
    events.LoadFinished = [this](bool ok) { Guarded("WebBrowserYPLikeDocumentComplete", [&] { loadFinished(ok); }); };
    events.LinkHovered = [this](const QString& url) { emit StatusText(url); };
    events.LinkClicked = [this](const QString& target) {
        Guarded("WebBrowserYPLikeNewWindow", [&] { LinkClicked(target); });
    };
    events.ScriptError = [this](const QString& message, int line, const QString& source) {
        scriptError(message, line, source);
    };
    events.DialogSuppressed = [](const QString& message) {
        DebugLog::Line("WebBrowserYPLikeDialog", "not shown: " + message.toStdString());
    };
    // The browser draws through OpenGL. In a window of its own, embedded in the page, it leaves the
    // main window as it was made: added to it directly, it would have the main window made anew for
    // OpenGL, which blanks it and lets the window manager place it again.
    m_host = new QWidget(m_page, Qt::Window);
    m_host->setObjectName(QStringLiteral("WebBrowserYPLikeWindow"));
    auto* hostLayout = new QVBoxLayout(m_host);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    QString error;
    m_view = CreateHtmlView(m_host, events, error);
    if (!m_view) {
        m_viewFailed = true;
        delete m_host;
        auto* label = new QLabel(U("YP風表示を開けません: ") + error, m_page);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        m_page->layout()->addWidget(label);
        return false;
    }
    hostLayout->addWidget(m_view->Widget());
    embedWhenDrawable();
    return true;
}

// The browser's window is made once the engine's drawing widget exists, and so made for OpenGL
// from the start: made before, it would be made anew, which takes it out of the page.
void YpLikeView::embedWhenDrawable()
{
    if (!m_view || m_container)
        return;
    if (!m_view->CanDraw()) {
        QTimer::singleShot(10, this, [this] { embedWhenDrawable(); });
        return;
    }
    m_host->winId();
    m_container = QWidget::createWindowContainer(m_host->windowHandle(), m_page);
    m_container->setObjectName(QStringLiteral("WebBrowserYPLike"));
    m_container->setFocusPolicy(Qt::StrongFocus);
    // A native window of its own for the embedding widget, to which the browser's window is fixed.
    m_container->winId();
    m_container->installEventFilter(this);
    m_page->layout()->addWidget(m_container);
    FocusPage();
}

bool YpLikeView::eventFilter(QObject* watched, QEvent* event)
{
    // The browser's window is a widget window of its own, which would keep the size it had when it
    // was first shown: it follows the embedding widget.
    if (watched == m_container && m_host && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        QTimer::singleShot(0, m_host, [this] {
            if (m_container)
                m_host->setGeometry(QRect(QPoint(0, 0), m_container->size()));
        });
    return QObject::eventFilter(watched, event);
}

void YpLikeView::Prepare()
{
    if (m_view || m_viewFailed || !createView())
        return;
    // Its own processes start now rather than at the first showing.
    m_view->Warm();
}

void YpLikeView::Shown(bool stale)
{
    if (!createView())
        return;
    if (stale || !m_built)
        Build();
    FocusPage();
}

void YpLikeView::Build()
{
    if (!m_view)
        return;
    m_built = true;
    const TkavoChList& list = m_chList();
    // Built now: the rows point into lists the next refresh frees.
    std::string page = BuildYpLikePage(m_common, list, m_listViewNow->Model().Rows(),
                                       YpLikeLiteFilter(m_lite, m_setting.Notify.Rank2));
    if (!m_actions[MainVisualYpLikeRestorePos]->isChecked()) {
        load(page);
        return;
    }
    m_view->ReadScrollTop([this, page = std::move(page)](int top) {
        m_scrollTop = top;
        Guarded("YpLikeLoad", [&] { load(page); });
    });
}

void YpLikeView::load(const std::string& page)
{
    QWidget* browser = m_view->Widget();
    const std::string folder = m_common.TemplateFolder();
    if (m_actions[MainVisualYpLikeModeFromStream]->isChecked()) {
        browser->setEnabled(false);
        m_view->ShowPage(QByteArray::fromStdString(page), QString::fromStdString(folder));
    } else if (m_actions[MainVisualYpLikeModeFromTempFile]->isChecked()) {
        const std::string path = folder + "temp.html";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << page;
        browser->setEnabled(false);
        // A theme change moves the file: the new one is navigated to.
        if (m_tempFile != path) {
            m_tempFile = path;
            m_view->ShowFile(QString::fromStdString(path));
        } else {
            m_view->Reload();
        }
    }
}

void YpLikeView::loadFinished(bool ok)
{
    m_view->Widget()->setEnabled(true);
    if (m_actions[TabYpLike]->isChecked()) {
        // Only while the option is on: a position saved before it was switched off is stale.
        if (m_actions[MainVisualYpLikeRestorePos]->isChecked() && m_scrollTop >= 0)
            m_view->SetScrollTop(m_scrollTop);
        FocusPage();
    }
    emit Loaded(ok);
}

void YpLikeView::FocusPage()
{
    if (!m_view || !m_actions[TabYpLike]->isChecked() || !m_view->Widget()->isEnabled())
        return;
    // The embedding widget hands the keyboard to the browser's window, the view to the page.
    if (m_container && !m_container->hasFocus())
        m_container->setFocus();
    m_view->FocusPage();
}

void YpLikeView::scriptError(const QString& message, int line, const QString& source)
{
    // The page's scripts go on; the user hears of it only in debug mode.
    const QString text = QStringLiteral("%1 (%2:%3)").arg(message, source).arg(line);
    DebugLog::Line("WebBrowserYPLikeScriptError", text.toStdString());
    if (!m_actions[MainHelpDebugMode]->isChecked())
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, m_window->windowTitle(), text, QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void YpLikeView::LinkClicked(const QString& target)
{
    // The templates are CP932; so are the channel records and the launcher's URLs.
    const std::string link = Utf8ToCp932(target.toStdString());
    if (link.empty())
        return;
    const YpLikeLink what = ClassifyYpLikeLink(link);
    switch (what.What) {
    case YpLikeLink::Kind::Play: {
        const TkavoChItem* channel = m_chList().FindByHash(what.Argument);
        // Ended since the page was built, or a line of the YP's own without a channel behind it.
        if (!channel || !channel->HasHash())
            return;
        // The row of the on-air view shows the mark; a channel the view leaves out has none.
        const auto& rows = m_listViewNow->Model().Rows();
        const bool listed = std::find(rows.begin(), rows.end(), channel) != rows.end();
        m_channelActions.Play(link, listed ? m_listViewNow : nullptr, channel);
        return;
    }
    case YpLikeLink::Kind::Menu: {
        const int row = m_listViewNow->Model().FindHash(what.Argument, 0);
        if (row >= 0)
            m_listViewNow->SelectRow(row);
        if (m_listViewNow->SelectedChannel())
            m_channelActions.PopupMenuListItem()->popup(QCursor::pos());
        return;
    }
    case YpLikeLink::Kind::Action:
        if (QAction* action = m_actions.Find(QString::fromStdString(what.Argument)))
            action->trigger();
        return;
    case YpLikeLink::Kind::Sort: {
        const std::string& caption = ColumnCaptionById(what.Argument);
        const int column = caption.empty() ? -1 : m_listViewNow->Model().FindColumn(caption);
        if (column >= 0)
            emit SortRequested(column);
        return;
    }
    case YpLikeLink::Kind::Open:
        m_launcher().OpenUrl(link);
        return;
    }
}

} // namespace kavo
