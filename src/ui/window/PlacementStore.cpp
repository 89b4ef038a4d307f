#include "ui/window/PlacementStore.h"

#include "settings/IniFile.h"
#include "ui/app/DebugLog.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cctype>

namespace kavo {
namespace {

constexpr const char* IntervalKey = "TimerInitialize.Interval";

std::string CheckedKey(const QAction* action)
{
    return action->objectName().toStdString() + ".Checked";
}

} // namespace

PlacementStore::PlacementStore(std::string path, QWidget& window, std::vector<QAction*> actions,
                               QTimer& timerInitialize)
    : QObject(&window), m_path(std::move(path)), m_window(window), m_actions(std::move(actions)),
      m_timerInitialize(timerInitialize)
{
    // A drag moves the window many times a second; the file is written once it rests.
    m_geometryWrite.setSingleShot(true);
    m_geometryWrite.setInterval(1000);
    connect(&m_geometryWrite, &QTimer::timeout, this, [this] { Save(); });
}

std::optional<bool> PlacementStore::ParseBool(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    if (upper == "TRUE" || upper == "YES" || upper == "Y")
        return true;
    if (upper == "FALSE" || upper == "NO" || upper == "N")
        return false;
    return std::nullopt;
}

QRect PlacementStore::OntoScreen(const QRect& geometry)
{
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(geometry))
            return geometry;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return geometry;
    const QRect area = primary->availableGeometry();
    QRect moved(area.topLeft(), geometry.size());
    return moved.intersected(area);
}

void PlacementStore::Load()
{
    const IniFile ini = IniFile::Read(m_path);
    for (QAction* action : m_actions)
        if (const auto value = ini.Value(Section, CheckedKey(action)))
            if (const auto on = ParseBool(*value); on && *on != action->isChecked()) {
                // Unchecking one of an exclusive group would leave the group as it was.
                if (*on || !action->actionGroup())
                    action->setChecked(*on);
            }
    if (const int interval = ini.ReadInteger(Section, IntervalKey, -1); interval >= 0)
        m_timerInitialize.setInterval(interval);

    QRect geometry = m_window.geometry();
    const auto read = [&](const char* key, auto set) {
        if (const int value = ini.ReadInteger(Section, key, INT32_MIN); value != INT32_MIN)
            set(value);
    };
    read("Left", [&](int v) { geometry.moveLeft(v); });
    read("Top", [&](int v) { geometry.moveTop(v); });
    read("Width", [&](int v) { geometry.setWidth(std::max(v, 1)); });
    read("Height", [&](int v) { geometry.setHeight(std::max(v, 1)); });
    if (geometry != m_window.geometry())
        m_window.setGeometry(OntoScreen(geometry));

    for (QAction* action : m_actions)
        connect(action, &QAction::toggled, this, [this, action] { writeAction(action); });
    m_window.installEventFilter(this);
    m_loaded = true;
}

void PlacementStore::writeAction(QAction* action)
{
    DebugLog::Guarded("dfm.ini", [&] {
        IniFile::Update(m_path, [&](IniFile& ini) {
            ini.WriteString(Section, CheckedKey(action), action->isChecked() ? "TRUE" : "FALSE");
        });
    });
}

void PlacementStore::Save()
{
    m_geometryWrite.stop();
    const QRect geometry = m_window.normalGeometry().isValid() ? m_window.normalGeometry() : m_window.geometry();
    DebugLog::Guarded("dfm.ini", [&] {
        IniFile::Update(m_path, [&](IniFile& ini) {
            // A Wayland compositor places the window and does not say where: the position a
            // session that could place it stored stays for the next such session.
            if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
                ini.WriteInteger(Section, "Left", geometry.left());
                ini.WriteInteger(Section, "Top", geometry.top());
            }
            ini.WriteInteger(Section, "Width", geometry.width());
            ini.WriteInteger(Section, "Height", geometry.height());
            for (const QAction* action : m_actions)
                ini.WriteString(Section, CheckedKey(action), action->isChecked() ? "TRUE" : "FALSE");
            ini.WriteInteger(Section, IntervalKey, m_timerInitialize.interval());
        });
    });
}

bool PlacementStore::eventFilter(QObject* watched, QEvent* event)
{
    if (m_loaded && watched == &m_window && (event->type() == QEvent::Move || event->type() == QEvent::Resize) &&
        m_window.isVisible() && m_window.windowState() == Qt::WindowNoState)
        m_geometryWrite.start();
    return QObject::eventFilter(watched, event);
}

} // namespace kavo
