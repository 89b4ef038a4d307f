#pragma once

#include "common/WavePlayer.h"
#include "common/ukavoCommon.h"
#include "notify/SoundWorker.h"
#include "settings/SettingsTestSupport.h"
#include "settings/TkavoSetting.h"
#include "ui/notify/SpeechEngine.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kavo::test {

// Balloon sounds as "file:<path>" or "event:<id>".
class RecordingWavePlayer : public WavePlayer
{
public:
    explicit RecordingWavePlayer(std::shared_ptr<QStringList> played) : m_played(std::move(played)) {}
    bool PlayFile(const std::string& path) override
    {
        m_played->append(QStringLiteral("file:") + QString::fromStdString(path));
        return true;
    }
    bool PlayEvent(const std::string& eventId) override
    {
        m_played->append(QStringLiteral("event:") + QString::fromStdString(eventId));
        return true;
    }

private:
    std::shared_ptr<QStringList> m_played;
};

// The sound worker's files; played on the worker thread, read by the test.
class RecordingFilePlayer : public SoundFilePlayer
{
public:
    struct Log
    {
        std::mutex Lock;
        std::vector<std::string> Played;
        std::vector<std::string> Snapshot()
        {
            std::lock_guard lock(Lock);
            return Played;
        }
    };
    explicit RecordingFilePlayer(std::shared_ptr<Log> log) : m_log(std::move(log)) {}
    bool PlayFileSync(const std::string& path) override
    {
        std::lock_guard lock(m_log->Lock);
        m_log->Played.push_back(path);
        return true;
    }
    void Cancel() override {}

private:
    std::shared_ptr<Log> m_log;
};

// Speech calls as "speed:<n>", "speak:<text>", "stop".
class RecordingSpeech : public SpeechEngine
{
public:
    explicit RecordingSpeech(std::shared_ptr<QStringList> calls) : m_calls(std::move(calls)) {}
    void SetSpeed(int speed) override { m_calls->append(QStringLiteral("speed:%1").arg(speed)); }
    void Speak(const QString& text) override { m_calls->append(QStringLiteral("speak:") + text); }
    void Stop() override { m_calls->append(QStringLiteral("stop")); }

private:
    std::shared_ptr<QStringList> m_calls;
};

// Common services over a program folder of their own whose notification template is the
// channel name alone, so a channel's notification text is its name.
class NotifyCommonFixture
{
public:
    TempFolder Folder;
    TkavoSetting Settings;
    std::unique_ptr<TkavoCommon> Common;

    explicit NotifyCommonFixture(const std::string& notifyTemplate = "<channelname/>")
    {
        std::filesystem::create_directories(Folder.File("templates"));
        for (const char* name :
             {"notify.txt", "popup.txt", "clipboard.txt", "ie_header.html", "ie_channel.html", "ie_footer.html"})
            WriteFile(Folder.File(std::string("templates/") + name), notifyTemplate);
        Settings.Notify.CutLongString = false;
        Common = std::make_unique<TkavoCommon>(Settings, CommonPaths{Folder.Path(), "kavo", Folder.File("kavo.ini")},
                                               nullptr);
        Common->LoadTemplates();
    }
};

} // namespace kavo::test
