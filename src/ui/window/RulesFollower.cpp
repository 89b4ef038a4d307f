#include "ui/window/RulesFollower.h"

#include "ui/Cp932Text.h"

#include "rules/RulesImport.h"
#include "settings/TkavoSetting.h"
#include "ui/window/SettingsHolder.h"

#include <QFileInfo>

namespace kavo {
namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Whether the settings hold what the file says, in the sections the file has.
bool Holds(const RuleSet& settings, const RuleSet& file)
{
    return (!file.Favorites || file.Favorites == settings.Favorites) && (!file.Yps || file.Yps == settings.Yps);
}

} // namespace

RulesFollower::RulesFollower(SettingsHolder& settings, std::chrono::milliseconds settle, QObject* parent)
    : QObject(parent), m_settings(settings)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(settle);
    connect(&m_settle, &QTimer::timeout, this, [this] { Reread(); });
    // Editors and sync tools often replace the file rather than write into it, which only its
    // folder sees.
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_settle, qOverload<>(&QTimer::start));
}

RulesFollower::~RulesFollower() = default;

void RulesFollower::Start()
{
    m_started = true;
    follow(FollowedRulesFile(m_settings.Current()));
}

void RulesFollower::SettingsChanged(const TkavoSetting&, const TkavoSetting& after)
{
    if (!m_started)
        return;
    if (FollowedRulesFile(after) != m_path) {
        // Not while the holder is still telling of this change: taking the file's rules changes the
        // settings again.
        QMetaObject::invokeMethod(
            this, [this] { follow(FollowedRulesFile(m_settings.Current())); }, Qt::QueuedConnection);
        return;
    }
    if (m_path.empty() || m_applying)
        return;
    RuleSet rules = RulesOf(after);
    if (m_known && *m_known == rules)
        return;
    writeFile(rules);
}

void RulesFollower::follow(const std::string& path)
{
    if (path == m_path)
        return;
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    m_settle.stop();
    m_path = path;
    m_known.reset();
    m_bytes.clear();
    m_lastProblem.clear();
    if (m_path.empty())
        return;
    if (QFileInfo::exists(QString::fromStdString(m_path)))
        Reread();
    else
        writeFile(RulesOf(m_settings.Current()));
}

void RulesFollower::watch()
{
    const QString file = QString::fromStdString(m_path);
    const QString folder = QFileInfo(file).absolutePath();
    if (!m_watcher.directories().contains(folder) && QFileInfo(folder).isDir())
        m_watcher.addPath(folder);
    // A file replaced since it was last watched is another file now.
    if (m_watcher.files().contains(file))
        m_watcher.removePath(file);
    if (QFileInfo::exists(file))
        m_watcher.addPath(file);
}

void RulesFollower::Reread()
{
    if (m_path.empty())
        return;
    watch();
    const QString file = QString::fromStdString(m_path);
    std::string bytes;
    try {
        bytes = ReadRulesFile(m_path);
    } catch (const RulesError& error) {
        report(U("ルールファイルを読めません。今のルールのままです。\n%1").arg(QString::fromStdString(error.what())));
        return;
    }
    // Nothing new, such as the file this run wrote.
    if (bytes == m_bytes && m_known)
        return;
    m_bytes = bytes;
    RulesReading reading;
    try {
        reading = ParseRules(bytes);
    } catch (const RulesError& error) {
        report(U("ルールファイル %1 を読み込めません。今のルールのままです。\n%2")
                   .arg(file, QString::fromStdString(error.what())));
        return;
    }
    if (reading.Format != RulesFormat::Kavo) {
        report(U("%1 は kavo のルールファイルではありません。今のルールのままです。").arg(file));
        return;
    }
    m_lastProblem.clear();
    if (Holds(RulesOf(m_settings.Current()), reading.Rules)) {
        m_known = RulesOf(m_settings.Current());
        return;
    }

    TkavoSetting edited = m_settings.Current();
    ImportRules(reading, ImportMode::Replace, edited);
    m_applying = true;
    const std::optional<std::string> error = m_settings.Commit(edited);
    m_applying = false;
    m_known = RulesOf(m_settings.Current());
    if (error)
        report(FromCp932(*error));
    emit Applied(U("ルールファイルの変更を読み込みました (お気に入り %1 件、YP %2 件)")
                     .arg(m_settings.Current().Favorites.Count())
                     .arg(m_settings.Current().YpList.Count()));
}

void RulesFollower::writeFile(const RuleSet& rules)
{
    std::string text = RulesText(rules);
    try {
        WriteRulesFile(m_path, text);
    } catch (const RulesError& error) {
        report(U("ルールファイルに書き込めません。\n%1").arg(QString::fromStdString(error.what())));
        return;
    }
    m_bytes = std::move(text);
    m_known = rules;
    watch();
    emit Written();
}

void RulesFollower::report(const QString& message)
{
    if (message == m_lastProblem)
        return;
    m_lastProblem = message;
    emit Problem(message);
}

} // namespace kavo
