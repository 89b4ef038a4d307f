#pragma once

#include "common/WavePlayer.h"
#include "common/ukavoCommon.h"
#include "platform/Cp932.h"
#include "settings/IniFile.h"
#include "settings/SettingsTestSupport.h"
#include "settings/TkavoSetting.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kavo::test {

// Records what would have been played; files named "*.bad" fail to start, like a broken file.
class FakeWavePlayer : public WavePlayer
{
public:
    std::vector<std::string> Played; // "file:<path>" or "event:<id>"

    bool PlayFile(const std::string& path) override
    {
        Played.push_back("file:" + path);
        return !path.ends_with(".bad");
    }
    bool PlayEvent(const std::string& eventId) override
    {
        Played.push_back("event:" + eventId);
        return true;
    }
};

// A program folder of its own with a templates folder and an INI file.
class CommonFixture
{
public:
    TempFolder Folder;
    FakeWavePlayer* Player = nullptr; // owned by the common object

    // The settings the common services read.
    TkavoSetting& Setting() { return m_setting; }

    CommonFixture() { std::filesystem::create_directories(Folder.File("templates")); }

    CommonPaths Paths() const { return {Folder.Path(), "kavo", Folder.File("kavo.ini")}; }

    std::unique_ptr<TkavoCommon> Create()
    {
        auto player = std::make_unique<FakeWavePlayer>();
        Player = player.get();
        auto common = std::make_unique<TkavoCommon>(m_setting, Paths(), std::move(player));
        common->ReadTheme(IniFile::Read(Paths().SettingsFile));
        return common;
    }

    // Writes a template file (CP932 bytes) into the templates folder or a theme below it.
    void WriteTemplate(const std::string& name, const std::string& content, const std::string& theme = "")
    {
        const std::string folder = theme.empty() ? Folder.File("templates") : Folder.File("templates/" + theme);
        std::filesystem::create_directories(folder);
        WriteFile(folder + "/" + name, content);
    }

    void WriteAllTemplates(const std::string& content, const std::string& theme = "")
    {
        for (const char* name :
             {"notify.txt", "popup.txt", "clipboard.txt", "ie_header.html", "ie_channel.html", "ie_footer.html"})
            WriteTemplate(name, content, theme);
    }

private:
    TkavoSetting m_setting;
};

// 2024-03-05 14:07 as days since 1899-12-30.
constexpr DateTime SampleTime = 45356.0 + (14 * 60 + 7) / MinutesPerDay;

// A channel with every field the tags read, owned by the list given.
inline TkavoChItem& AddSampleChannel(TkavoChList& list)
{
    auto& channel = list.Add(std::make_unique<TkavoChItem>());
    channel.No = 7;
    channel.Diff = TkavoDiff::New;
    channel.ChannelName = Sjis("テスト&amp;局");
    channel.Genre = "Game";
    channel.Description = Sjis("雑談");
    channel.Playing = "Playing: x";
    channel.ContactURL = "http://bbs.example.net/1/";
    channel.Listeners = 12;
    channel.Relays = 3;
    channel.ChatURL = "http://yp.example.net/chat.php?cn=a";
    channel.StatisticsURL = "http://yp.example.net/getgmt.php?cn=a";
    channel.Type = "WMV";
    channel.StreamURL = "http://localhost:7144/pls/0123456789ABCDEF0123456789ABCDEF?tip=1.2.3.4:7144";
    channel.DirectStreamURL = "http://localhost:7144/stream/0123456789ABCDEF0123456789ABCDEF.wmv";
    channel.Bitrate = "500 kbps";
    channel.TimeStamp = SampleTime;
    channel.Hash = "0123456789ABCDEF0123456789ABCDEF";
    channel.YpAddr = "http://yp.example.net/";
    channel.Color = 0x563412; // red 0x12, green 0x34, blue 0x56
    channel.ColorEnabled = true;
    channel.ColorText = 0xEFCDAB;
    channel.ColorTextEnabled = true;
    channel.BroadcastTime = "1:23";
    channel.Status = "OK";
    channel.Comment = Sjis("コメント");
    channel.Find = true;
    return channel;
}

} // namespace kavo::test
