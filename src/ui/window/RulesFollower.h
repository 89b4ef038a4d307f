#pragma once

#include "rules/RulesFile.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>
#include <string>

namespace kavo {

class SettingsHolder;
class TkavoSetting;

// Keeps the favorites and YPs in step with the rules file the settings name, for machines that
// share it through a synced folder: a change of the file made elsewhere is taken on, and kavo's own
// changes are written to it. The file wins when following starts; a missing one is written.
class RulesFollower : public QObject
{
    Q_OBJECT

public:
    // settle: how long the file must rest after a change before it is read, as editors and sync
    // tools write in several steps.
    explicit RulesFollower(SettingsHolder& settings, std::chrono::milliseconds settle = std::chrono::milliseconds(300),
                           QObject* parent = nullptr);
    ~RulesFollower() override;

    // Starts following the file the settings name, if any.
    void Start();
    // A new file to follow, or kavo's own changes to write to the one followed.
    void SettingsChanged(const TkavoSetting& before, const TkavoSetting& after);
    // Reads the file followed now, as a change of it does once it has settled.
    void Reread();

    // The file followed; "" when none.
    const std::string& Path() const { return m_path; }

signals:
    // The file's rules were taken on; summary says what changed.
    void Applied(const QString& summary);
    // The settings' rules were written to the file.
    void Written();
    // The file cannot be followed as it is; told once for each reason.
    void Problem(const QString& message);

private:
    void follow(const std::string& path);
    void watch();
    void writeFile(const RuleSet& rules);
    void report(const QString& message);

    SettingsHolder& m_settings;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    bool m_started = false;
    std::string m_path;
    // The rules the file holds as far as this run knows, and its bytes last read or written.
    std::optional<RuleSet> m_known;
    std::string m_bytes;
    QString m_lastProblem;
    // Set while the file's rules are committed, whose change must not be written back.
    bool m_applying = false;
};

} // namespace kavo
