#include "ui/window/ToolBars.h"

#include "settings/IniFile.h"
#include "ui/window/ActionTable.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QImageReader>
#include <QMainWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleOptionToolButton>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <string>

namespace kavo {
namespace {

using enum ActionId;

constexpr QSize ButtonSize(30, 24);

struct CommandButton
{
    ActionId Id;
    const char* Icon;
    const char* Hint; // UTF-8
};

constexpr std::array<CommandButton, 3> TabButtons = {{
    {TabNow, "TabNow.ico", "放送中"},
    {TabLog, "TabLog.ico", "放送終了"},
    {TabYpLike, "TabYpLike.ico", "YP風表示"},
}};
constexpr std::array<CommandButton, 6> ToolButtons = {{
    {MainRefresh, "Refresh.ico", "更新"},
    {LVFindChannel2, "Find.ico", "検索"},
    {MainConfig, "Config.ico", "設定"},
    {MainFavorite, "Favorite.ico", "お気に入り"},
    {MainNotifyAbort, "Abort.ico", "中止"},
    {MainVisualRegulars, "Regulars.ico", "いつもの配信"},
}};

// The hot image: the normal one a little lighter.
QPixmap Hot(const QImage& image)
{
    QImage hot = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&hot);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(hot.rect(), QColor(255, 255, 255, 60));
    return QPixmap::fromImage(hot);
}

// The disabled image: grey and faint.
QPixmap Disabled(const QImage& image)
{
    QImage grey = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const int g = qGray(line[x]);
            line[x] = qRgba(g, g, g, qAlpha(line[x]) / 2);
        }
    }
    return QPixmap::fromImage(grey);
}

// Every size the icon file holds, each in its normal, hot and disabled form; null when none reads.
QIcon CommandIcon(const QString& path)
{
    QIcon icon;
    QImageReader reader(path);
    const int count = std::max(reader.imageCount(), 1);
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        const QImage image = reader.read();
        if (image.isNull())
            break;
        icon.addPixmap(QPixmap::fromImage(image), QIcon::Normal);
        icon.addPixmap(Hot(image), QIcon::Active);
        icon.addPixmap(Disabled(image), QIcon::Disabled);
    }
    return icon;
}

// The menu band's buttons look like a menu bar's entries: no drop-down mark beside their captions.
class MenuBandStyle : public QProxyStyle
{
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        if (const auto* button = qstyleoption_cast<const QStyleOptionToolButton*>(option);
            button && control == CC_ToolButton) {
            QStyleOptionToolButton plain = *button;
            plain.features &= ~QStyleOptionToolButton::HasMenu;
            QProxyStyle::drawComplexControl(control, &plain, painter, widget);
            return;
        }
        QProxyStyle::drawComplexControl(control, option, painter, widget);
    }
};

QString Trimmed(const QString& caption)
{
    return caption.trimmed();
}

} // namespace

ToolBand::ToolBand(int id, const QString& name, QWidget* parent) : QToolBar(name, parent), m_id(id)
{
    setObjectName(name);
    // The bands live in rows at the top of the window, as the layout records them.
    setAllowedAreas(Qt::TopToolBarArea);
    setFloatable(false);
}

void ToolBand::SetPreferredWidth(int width)
{
    m_preferredWidth = width;
    updateGeometry();
}

QSize ToolBand::sizeHint() const
{
    QSize hint = QToolBar::sizeHint();
    if (m_preferredWidth > 0)
        hint.setWidth(std::max(m_preferredWidth, minimumSizeHint().width()));
    return hint;
}

ToolBars::ToolBars(QMainWindow& window, const ActionTable& actions, const std::vector<QMenu*>& mainMenus,
                   QMenu* modeMenu, QMenu* contextMenu)
    : QObject(&window), m_window(window), m_actions(actions), m_mainMenus(mainMenus), m_modeMenu(modeMenu)
{
    StartSystemMove = [this] {
        QWindow* handle = m_window.windowHandle();
        return handle && handle->startSystemMove();
    };
    m_bands = {new ToolBand(BandMain, QStringLiteral("ToolBarMain"), &window),
               new ToolBand(BandTab, QStringLiteral("ToolBarTab"), &window),
               new ToolBand(BandTool, QStringLiteral("ToolBarTool"), &window)};
    m_chevron = new QMenu(&window);
    m_chevron->setObjectName(QStringLiteral("PopupMenuChevron"));

    ToolBand* main = m_bands[BandMain];
    main->setToolButtonStyle(Qt::ToolButtonTextOnly);
    main->setMinimumHeight(18);
    main->setFont(QApplication::font("QMenuBar"));
    auto* menuStyle = new MenuBandStyle;
    menuStyle->setParent(main);
    for (QMenu* menu : m_mainMenus) {
        QAction* action = menu->menuAction();
        action->setIconText(menu->title());
        main->addAction(action);
        if (auto* button = qobject_cast<QToolButton*>(main->widgetForAction(action))) {
            button->setPopupMode(QToolButton::InstantPopup);
            button->setStyle(menuStyle);
            // A menu closed by a click elsewhere leaves the button without the leave event that
            // would end its pressed and hovered look.
            connect(menu, &QMenu::aboutToHide, button, [button] {
                QMetaObject::invokeMethod(
                    button,
                    [button] {
                        button->setDown(false);
                        if (!button->rect().contains(button->mapFromGlobal(QCursor::pos()))) {
                            QEvent leave(QEvent::Leave);
                            QCoreApplication::sendEvent(button, &leave);
                        }
                        button->update();
                    },
                    Qt::QueuedConnection);
            });
        }
    }

    const auto addButtons = [this](ToolBand* band, const auto& buttons) {
        band->setToolButtonStyle(Qt::ToolButtonIconOnly);
        band->setIconSize(QSize(16, 16));
        band->setMinimumHeight(ButtonSize.height());
        for (const CommandButton& row : buttons) {
            QAction* action = m_actions[row.Id];
            action->setToolTip(QString::fromUtf8(row.Hint));
            band->addAction(action);
            if (QWidget* button = band->widgetForAction(action))
                button->setMinimumSize(ButtonSize);
        }
    };
    addButtons(m_bands[BandTab], TabButtons);
    addButtons(m_bands[BandTool], ToolButtons);
    if (auto* refresh = qobject_cast<QToolButton*>(m_bands[BandTool]->widgetForAction(m_actions[MainRefresh]))) {
        refresh->setMenu(m_modeMenu);
        refresh->setPopupMode(QToolButton::MenuButtonPopup);
    }

    // Band 0 alone on the first row; bands 1 and 2 share the second.
    window.addToolBar(Qt::TopToolBarArea, m_bands[BandMain]);
    window.addToolBarBreak(Qt::TopToolBarArea);
    window.addToolBar(Qt::TopToolBarArea, m_bands[BandTab]);
    window.addToolBar(Qt::TopToolBarArea, m_bands[BandTool]);
    for (ToolBand* band : m_bands) {
        band->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(band, &QWidget::customContextMenuRequested, this,
                [band, contextMenu](const QPoint& at) { contextMenu->popup(band->mapToGlobal(at)); });
        hookExtension(band);
        AddDragSource(band, false);
    }
    connect(m_actions[CoolFixed], &QAction::toggled, this, [this] { ApplyBandStyles(); });
    ApplyBandStyles();
    window.installEventFilter(this);
}

void ToolBars::LoadIcons(const std::string& iconFolder)
{
    const auto load = [&](const auto& buttons) {
        for (const CommandButton& row : buttons) {
            const QIcon icon = CommandIcon(QString::fromStdString(iconFolder) + QString::fromLatin1(row.Icon));
            if (!icon.isNull())
                m_actions[row.Id]->setIcon(icon);
        }
    };
    load(TabButtons);
    load(ToolButtons);
}

void ToolBars::ApplyBandStyles()
{
    const bool fixed = m_actions[CoolFixed]->isChecked();
    for (ToolBand* band : m_bands)
        band->setMovable(!fixed);
}

bool ToolBars::DesktopThemed()
{
    const QString style = QApplication::style()->name().toLower();
    return style != QLatin1String("fusion") && style != QLatin1String("windows");
}

void ToolBars::ApplyVisualTheme(bool themed)
{
    for (ToolBand* band : m_bands)
        band->setAutoFillBackground(!themed);
    for (QMenu* menu : m_mainMenus)
        menu->menuAction()->setIconText(themed ? menu->title() : Trimmed(menu->title()));
}

void ToolBars::SetVisible(bool visible)
{
    for (ToolBand* band : m_bands)
        band->setVisible(visible);
}

std::array<CoolBand, 3> ToolBars::CaptureLayout() const
{
    std::array<ToolBand*, 3> order = m_bands;
    std::stable_sort(order.begin(), order.end(), [](const ToolBand* a, const ToolBand* b) {
        return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x());
    });
    std::array<CoolBand, 3> layout{};
    for (std::size_t n = 0; n < order.size(); ++n) {
        const ToolBand* band = order[n];
        const bool sameRowNext = n + 1 < order.size() && order[n + 1]->y() == band->y();
        layout[n].ID = band->Id();
        layout[n].Width = sameRowNext ? order[n + 1]->x() - band->x() : band->width();
        layout[n].Break = n > 0 && order[n - 1]->y() != band->y();
    }
    return layout;
}

void ToolBars::RestoreLayout(const std::array<CoolBand, 3>& layout)
{
    std::vector<std::pair<ToolBand*, const CoolBand*>> order;
    const auto placed = [&](const ToolBand* band) {
        return std::any_of(order.begin(), order.end(), [band](const auto& entry) { return entry.first == band; });
    };
    for (const CoolBand& record : layout)
        if (record.ID >= 0 && record.ID < static_cast<int>(m_bands.size()) && !placed(m_bands[record.ID]))
            order.emplace_back(m_bands[static_cast<std::size_t>(record.ID)], &record);
    if (order.empty())
        return; // a first start keeps the designed layout
    for (ToolBand* band : m_bands)
        if (!placed(band))
            order.emplace_back(band, nullptr);

    std::array<bool, 3> visible{};
    for (std::size_t i = 0; i < m_bands.size(); ++i) {
        visible[i] = !m_bands[i]->isHidden();
        m_window.removeToolBarBreak(m_bands[i]);
        m_window.removeToolBar(m_bands[i]);
    }
    for (std::size_t n = 0; n < order.size(); ++n) {
        auto [band, record] = order[n];
        // A band the records do not name starts a row of its own, as in the designed layout.
        if (n > 0 && (record ? record->Break : band->Id() == BandTab))
            m_window.addToolBarBreak(Qt::TopToolBarArea);
        m_window.addToolBar(Qt::TopToolBarArea, band);
        band->SetPreferredWidth(record ? record->Width : -1);
        band->setVisible(visible[static_cast<std::size_t>(band->Id())]);
    }
}

void ToolBars::ReadOptions(const IniFile& ini)
{
    for (std::size_t i = 0; i < m_stored.size(); ++i) {
        const std::string n = std::to_string(i);
        m_stored[i].ID = ini.ReadInteger("CoolBar", "ID" + n, -1);
        m_stored[i].Width = ini.ReadInteger("CoolBar", "Width" + n, -1);
        m_stored[i].Break = ini.ReadInteger("CoolBar", "Break" + n, 0) != 0;
    }
}

void ToolBars::WriteOptions(IniFile& ini) const
{
    ini.EraseSection("CoolBar");
    for (std::size_t i = 0; i < m_stored.size(); ++i) {
        const std::string n = std::to_string(i);
        ini.WriteInteger("CoolBar", "ID" + n, m_stored[i].ID);
        ini.WriteInteger("CoolBar", "Width" + n, m_stored[i].Width);
        ini.WriteInteger("CoolBar", "Break" + n, m_stored[i].Break ? 1 : 0);
    }
}

void ToolBars::KeepLayout()
{
    // Bands never shown have no places: what was read is kept.
    if (m_laidOut)
        m_stored = CaptureLayout();
}

QMenu* ToolBars::ChevronMenu(ToolBand* band)
{
    m_chevron->clear();
    for (QMenu* sub : m_chevron->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly))
        sub->deleteLater();
    if (!band)
        return m_chevron;
    for (QAction* action : band->actions()) {
        if (!action->isVisible())
            continue;
        const QWidget* button = band->widgetForAction(action);
        if (button && !button->isHidden())
            continue;
        if (action->isSeparator()) {
            m_chevron->addSeparator();
        } else if (action == m_actions[MainRefresh]) {
            QMenu* entry = m_chevron->addMenu(Trimmed(action->text()));
            entry->addAction(action);
            entry->addSeparator();
            entry->addActions(m_modeMenu->actions());
        } else if (QMenu* menu = action->menu()) {
            QMenu* entry = m_chevron->addMenu(Trimmed(menu->title()));
            entry->addActions(menu->actions());
        } else {
            m_chevron->addAction(action);
        }
    }
    return m_chevron;
}

void ToolBars::hookExtension(ToolBand* band)
{
    // The bar's own extension would unfold the band over the window; it offers a menu instead.
    if (auto* extension = band->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        extension->installEventFilter(this);
}

void ToolBars::AddDragSource(QWidget* widget, bool always)
{
    m_dragSources.emplace_back(widget, always);
    widget->installEventFilter(this);
}

bool ToolBars::isDragSource(QObject* watched) const
{
    const bool fixed = m_actions[CoolFixed]->isChecked();
    return std::any_of(m_dragSources.begin(), m_dragSources.end(),
                       [&](const auto& source) { return source.first == watched && (source.second || fixed); });
}

bool ToolBars::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == &m_window) {
        if (type == QEvent::Show)
            m_laidOut = true;
        return false;
    }
    if (watched->objectName() == QLatin1String("qt_toolbar_ext_button")) {
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
            auto* extension = static_cast<QToolButton*>(watched);
            if (!QApplication::activeWindow())
                m_window.activateWindow();
            QMenu* menu = ChevronMenu(qobject_cast<ToolBand*>(extension->parentWidget()));
            menu->popup(extension->mapToGlobal(extension->rect().bottomLeft()));
            return true;
        }
        return type == QEvent::MouseButtonRelease;
    }
    const bool mouse =
        type == QEvent::MouseButtonPress || type == QEvent::MouseMove || type == QEvent::MouseButtonRelease;
    if (!mouse || !isDragSource(watched))
        return false;
    const auto* mouseEvent = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonPress && mouseEvent->button() == Qt::LeftButton) {
        m_pressed = mouseEvent->globalPosition().toPoint();
        m_pressRecorded = true;
    } else if (type == QEvent::MouseMove && m_pressRecorded) {
        if (mouseEvent->globalPosition().toPoint() != m_pressed && !m_window.isMaximized()) {
            m_pressRecorded = false;
            StartSystemMove();
        }
    } else if (type == QEvent::MouseButtonRelease) {
        m_pressRecorded = false;
    }
    return false;
}

} // namespace kavo
