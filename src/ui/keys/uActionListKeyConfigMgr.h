#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class QAction;
class QEvent;
class QWidget;

namespace kavo {

// One line of a command section: the action listed under a code.
struct TExCmdItem
{
    QPointer<QAction> Action;
    QString Code; // the decimal number as the file writes it
};

// The lines of one command section, in file order.
class TExCmdList
{
public:
    explicit TExCmdList(QString sectionName) : m_sectionName(std::move(sectionName)) {}

    const QString& SectionName() const { return m_sectionName; }
    void SetSectionName(const QString& name) { m_sectionName = name; }
    const std::vector<TExCmdItem>& Items() const { return m_items; }
    void Clear() { m_items.clear(); }
    void Add(QAction* action, const QString& code) { m_items.push_back({action, code}); }
    // The action of the first item with exactly this code; null when there is none.
    QAction* Find(const QString& code) const;

private:
    QString m_sectionName;
    std::vector<TExCmdItem> m_items;
};

// The user's own keyboard shortcuts for the actions of a window, kept in KeyConfig.ini:
// [KeyConfig] maps each action's name to its shortcut in text form, [Caption] lists the captions
// for the reader, and the user may map application commands (browser and media keys, the mouse's
// back and forward buttons) to actions in [AppCommand]. [InputCommand] (raw device reports) is
// read and kept, but such reports never reach a window on Linux.
//
// The window creates it with itself as owner, sets the action list and Active, calls Load() once
// it is built (so the file's shortcuts replace the built-in ones before it is shown) and connects
// its load and save actions to Load() and Save().
class TActionListKeyConfigMgr : public QObject
{
    Q_OBJECT

public:
    // The owner's key and mouse events are looked at for application commands before any of its
    // widgets sees them. The store is a child of the owner.
    explicit TActionListKeyConfigMgr(QWidget* owner = nullptr);
    ~TActionListKeyConfigMgr() override;

    bool Active() const { return m_active; }
    void SetActive(bool active) { m_active = active; }
    // The window's actions in list order; their objectName() is the name the file uses. Not
    // owned: an action that is destroyed drops out.
    QList<QAction*> ActionList() const;
    void SetActionList(const QList<QAction*>& actions);

    const QString& IniFileName() const { return m_iniFileName; }
    void SetIniFileName(const QString& name) { m_iniFileName = name; }
    // On: the file is in the program folder; off: IniFileName is used as it is.
    bool IniLocationExePath() const { return m_iniLocationExePath; }
    void SetIniLocationExePath(bool on) { m_iniLocationExePath = on; }
    const QString& IniSectionName() const { return m_iniSectionName; }
    void SetIniSectionName(const QString& name) { m_iniSectionName = name; }
    const QString& IniSectionNameAppCmd() const { return m_appCommands.SectionName(); }
    void SetIniSectionNameAppCmd(const QString& name) { m_appCommands.SetSectionName(name); }
    const QString& IniSectionNameInputCmd() const { return m_inputCommands.SectionName(); }
    void SetIniSectionNameInputCmd(const QString& name) { m_inputCommands.SetSectionName(name); }
    QString IniFilePath() const;

    // Called first for every application command; setting handled skips the file's mapping. An
    // exception thrown by it counts as not handled.
    std::function<void(int command, bool& handled)> OnAppCommand;

    const TExCmdList& AppCommands() const { return m_appCommands; }
    const TExCmdList& InputCommands() const { return m_inputCommands; }

    // Runs an application command while Active is on and the owner is the active window: first
    // OnAppCommand, then the action [AppCommand] lists under the number. True when handled.
    bool HandleAppCommand(int command);

    // The Windows application-command number of a Qt key or mouse button; 0 for none.
    static int AppCommandOfKey(int key);
    static int AppCommandOfButton(Qt::MouseButton button);

public slots:
    // Sets the shortcuts the file names and reloads both command tables. Does nothing while
    // Active is off or when the file does not exist.
    void Load();
    // Rewrites [KeyConfig] and [Caption] for every action in list order; the command sections
    // stay as the user wrote them. False when the file could not be written (SaveFailed says
    // why) or while Active is off.
    bool Save();

signals:
    // The message to show when saving failed.
    void SaveFailed(const QString& message);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool ownsWindowEvent(QObject* watched) const;
    bool ownerIsActive() const;

    QPointer<QWidget> m_owner;
    bool m_active = false;
    QList<QPointer<QAction>> m_actions;
    QString m_iniFileName = QStringLiteral("KeyConfig.ini");
    bool m_iniLocationExePath = false;
    QString m_iniSectionName = QStringLiteral("KeyConfig");
    TExCmdList m_appCommands{QStringLiteral("AppCommand")};
    TExCmdList m_inputCommands{QStringLiteral("InputCommand")};
    // Mouse buttons whose press ran a command: their release is not passed on either.
    Qt::MouseButtons m_swallowRelease;
};

} // namespace kavo
