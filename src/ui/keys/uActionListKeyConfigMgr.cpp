#include "ui/keys/uActionListKeyConfigMgr.h"

#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "settings/IniFile.h"
#include "ui/keys/ShortCutText.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSet>
#include <QWidget>
#include <QWindow>

#include <string>

namespace kavo {

namespace {

const char* const CaptionSection = "Caption";

std::string ToFile(const QString& text)
{
    return Utf8ToCp932(text.toStdString());
}

QString FromFile(std::string_view text)
{
    return QString::fromStdString(Cp932ToUtf8(text));
}

// Windows numbers the commands of browser and media keys; Linux reports them as keys.
constexpr std::pair<Qt::Key, int> KeyCommands[] = {
    {Qt::Key_Back, 1},
    {Qt::Key_Forward, 2},
    {Qt::Key_Refresh, 3},
    {Qt::Key_Stop, 4},
    {Qt::Key_Search, 5},
    {Qt::Key_Favorites, 6},
    {Qt::Key_HomePage, 7},
    {Qt::Key_VolumeMute, 8},
    {Qt::Key_VolumeDown, 9},
    {Qt::Key_VolumeUp, 10},
    {Qt::Key_MediaNext, 11},
    {Qt::Key_MediaPrevious, 12},
    {Qt::Key_MediaStop, 13},
    // The play/pause key of a Linux keyboard reports "play".
    {Qt::Key_MediaTogglePlayPause, 14},
    {Qt::Key_MediaPlay, 14},
    {Qt::Key_LaunchMail, 15},
    {Qt::Key_LaunchMedia, 16},
    {Qt::Key_Launch0, 17},
    {Qt::Key_Launch1, 18},
    {Qt::Key_Calculator, 18},
    {Qt::Key_BassDown, 19},
    {Qt::Key_BassBoost, 20},
    {Qt::Key_BassUp, 21},
    {Qt::Key_TrebleDown, 22},
    {Qt::Key_TrebleUp, 23},
    {Qt::Key_MicMute, 24},
    {Qt::Key_MicVolumeDown, 25},
    {Qt::Key_MicVolumeUp, 26},
    {Qt::Key_Find, 28},
    {Qt::Key_New, 29},
    {Qt::Key_Open, 30},
    {Qt::Key_Close, 31},
    {Qt::Key_Save, 32},
    {Qt::Key_Undo, 34},
    {Qt::Key_Redo, 35},
    {Qt::Key_Copy, 36},
    {Qt::Key_Cut, 37},
    {Qt::Key_Paste, 38},
    {Qt::Key_Reply, 39},
    {Qt::Key_MailForward, 40},
    {Qt::Key_Send, 41},
    {Qt::Key_Spell, 42},
    {Qt::Key_MediaPause, 47},
    {Qt::Key_MediaRecord, 48},
    {Qt::Key_AudioForward, 49},
    {Qt::Key_AudioRewind, 50},
    {Qt::Key_ChannelUp, 51},
    {Qt::Key_ChannelDown, 52},
};

} // namespace

QAction* TExCmdList::Find(const QString& code) const
{
    for (const TExCmdItem& item : m_items)
        if (item.Code == code)
            return item.Action;
    return nullptr;
}

TActionListKeyConfigMgr::TActionListKeyConfigMgr(QWidget* owner) : QObject(owner), m_owner(owner)
{
    setObjectName(QStringLiteral("ActionListKeyConfigMgr"));
    // Keys go to the focused widget and bubble up only when it ignores them; watching the
    // application sees the event at the owner's window first, before any widget of it.
    if (owner && qApp)
        qApp->installEventFilter(this);
}

TActionListKeyConfigMgr::~TActionListKeyConfigMgr()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

QList<QAction*> TActionListKeyConfigMgr::ActionList() const
{
    QList<QAction*> actions;
    for (const QPointer<QAction>& action : m_actions)
        if (action)
            actions.append(action);
    return actions;
}

void TActionListKeyConfigMgr::SetActionList(const QList<QAction*>& actions)
{
    m_actions.clear();
    for (QAction* action : actions)
        m_actions.append(action);
}

QString TActionListKeyConfigMgr::IniFilePath() const
{
    if (!m_iniLocationExePath)
        return m_iniFileName;
    return QString::fromStdString(ProgramFolder()) + QLatin1Char('/') + m_iniFileName;
}

void TActionListKeyConfigMgr::Load()
{
    if (!m_active)
        return;
    const QString path = IniFilePath();
    if (!QFileInfo(path).isFile())
        return;
    const IniFile ini = IniFile::Read(path.toStdString());

    // The first action of each name, looked up once rather than once per line.
    QHash<QString, QAction*> byName;
    for (const QPointer<QAction>& action : m_actions)
        if (action && !action->objectName().isEmpty() && !byName.contains(action->objectName()))
            byName.insert(action->objectName(), action);

    ini.ForEachKey(ToFile(m_iniSectionName), [&](std::string_view key, std::string_view value) {
        if (QAction* action = byName.value(FromFile(key)))
            action->setShortcut(ParseKeyConfigValue(FromFile(value)));
    });

    for (TExCmdList* table : {&m_appCommands, &m_inputCommands}) {
        table->Clear();
        ini.ForEachKey(ToFile(table->SectionName()), [&](std::string_view code, std::string_view name) {
            QAction* action = byName.value(FromFile(name));
            if (action && !code.empty())
                table->Add(action, FromFile(code));
        });
    }
}

bool TActionListKeyConfigMgr::Save()
{
    if (!m_active)
        return false;
    const std::string path = IniFilePath().toStdString();
    const std::string section = ToFile(m_iniSectionName);
    try {
        IniFile::Update(path, [&](IniFile& ini) {
            ini.EraseSection(section);
            ini.EraseSection(CaptionSection);
            // Loading takes the first action of a name, so the file names each action once.
            QSet<QString> written;
            for (const QPointer<QAction>& action : m_actions) {
                if (!action || action->objectName().isEmpty() || written.contains(action->objectName()))
                    continue;
                written.insert(action->objectName());
                const std::string name = ToFile(action->objectName());
                ini.WriteString(section, name, ToFile(ShortCutToText(action->shortcut())));
                ini.WriteString(CaptionSection, name, ToFile(action->text()));
            }
        });
    } catch (const IniWriteError& error) {
        emit SaveFailed(FromFile(error.what()));
        return false;
    }
    return true;
}

bool TActionListKeyConfigMgr::ownerIsActive() const
{
    if (m_owner)
        return m_owner->isActiveWindow();
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

bool TActionListKeyConfigMgr::HandleAppCommand(int command)
{
    if (!m_active || command == 0 || !ownerIsActive())
        return false;
    bool handled = false;
    if (OnAppCommand) {
        try {
            OnAppCommand(command, handled);
        } catch (...) {
            handled = false;
        }
    }
    if (handled)
        return true;
    QAction* action = m_appCommands.Find(QString::number(command));
    if (!action)
        return false;
    action->trigger();
    return true;
}

int TActionListKeyConfigMgr::AppCommandOfKey(int key)
{
    for (const auto& [k, command] : KeyCommands)
        if (k == key)
            return command;
    return 0;
}

int TActionListKeyConfigMgr::AppCommandOfButton(Qt::MouseButton button)
{
    switch (button) {
    case Qt::BackButton:
        return 1;
    case Qt::ForwardButton:
        return 2;
    default:
        return 0;
    }
}

bool TActionListKeyConfigMgr::ownsWindowEvent(QObject* watched) const
{
    if (!m_owner || !watched->isWindowType())
        return false;
    const QWidget* window = m_owner->window();
    return window->windowHandle() && watched == window->windowHandle();
}

bool TActionListKeyConfigMgr::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease)
        return false;
    if (!m_active || !ownsWindowEvent(watched))
        return false;
    if (type == QEvent::KeyPress) {
        const int command = AppCommandOfKey(static_cast<QKeyEvent*>(event)->key());
        if (command && HandleAppCommand(command)) {
            event->accept();
            return true;
        }
        return false;
    }
    // A button that ran a command is ours until it is released: a quick second click must not
    // reach a list as a double click.
    const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
    if (type == QEvent::MouseButtonDblClick)
        return m_swallowRelease.testFlag(button);
    if (type == QEvent::MouseButtonRelease) {
        if (!m_swallowRelease.testFlag(button))
            return false;
        m_swallowRelease.setFlag(button, false);
        return true;
    }
    const int command = AppCommandOfButton(button);
    if (command && HandleAppCommand(command)) {
        m_swallowRelease.setFlag(button);
        event->accept();
        return true;
    }
    return false;
}

} // namespace kavo
