#pragma once

#include "net/EventLoop.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/ProgramFolder.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace kavo::test {

// Real cycles in a program folder of the test's own: the settings file, scripts and libraries
// placed there are the ones the module finds. The module is made by MakeNet, after the folder is
// filled.
class CycleFixture : public ::testing::Test
{
protected:
    static constexpr DateTime Start = 45000.25;

    void SetUp() override
    {
        std::string name = (std::filesystem::temp_directory_path() / "kavo-cycle-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        folder = name;
        SetProgramFolder(folder.string());
        clock = std::make_shared<ManualClock>(Start);
        SetClock(clock);
        mainThread = std::this_thread::get_id();
        TkavoSetting& setting = Setting();
        setting.URL.Timeout = "5";
        setting.Notify.Unique = false;
        // No pause after opening a PCRaw channel, unless a test writes its own.
        WriteFile("kavo.ini", "[PCRAW]\r\nCreateTimer=0\r\n");
    }

    void TearDown() override
    {
        net.reset();
        loop.RunPending();
        SetClock(nullptr);
        SetProgramFolder("");
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }

    void WriteFile(const std::string& name, std::string_view bytes) const
    {
        const auto path = folder / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    void MakeNet()
    {
        net = std::make_unique<TkavoNet>(loop.Dispatcher(), m_setting);
        net->OnError = [this](TkavoNet&, const std::string& error) {
            std::lock_guard lock(m_lock);
            errors.push_back(error);
            errorsOnWorker = errorsOnWorker && std::this_thread::get_id() != mainThread;
        };
        net->OnCycleError = [this](TkavoNet&, const std::string& message) { cycleErrors.push_back(message); };
        net->Prepare(IniFile::Read((folder / "kavo.ini").string()));
    }

    // The settings the module reads.
    TkavoSetting& Setting() { return m_setting; }

    // The module's record of a configured YP, as the last cycle left it.
    const YpRecord& Record(const TkavoYpItem& yp)
    {
        const YpRecord* record = net->Yp(yp.Url);
        if (!record)
            throw std::logic_error("no record of " + yp.Url);
        return *record;
    }

    // What a YP is to hold when a test starts: the channels on air and, in its log, the ended ones.
    struct Seed
    {
        TkavoYpItem* Yp;
        std::vector<std::string> OnAir;
        std::vector<std::string> Ended;
    };

    // Gives the YPs their channels the way a run of the program does: two manual cycles over HTTP,
    // the first with every channel, the second without the ended ones. No other YP and no script
    // takes part. Then the module is prepared again and the requests are forgotten, so that the
    // test's first cycle is a first one; the YPs' paths answer 404 again.
    void SeedYps(const std::vector<Seed>& seeds)
    {
        std::vector<std::pair<TkavoYpItem*, bool>> enabled;
        for (TkavoYpItem& yp : Setting().YpList) {
            enabled.emplace_back(&yp, yp.Enabled);
            yp.Enabled = false;
        }
        const bool canDms = net->CanDMS;
        net->CanDMS = false;
        for (const bool withEnded : {true, false}) {
            for (const Seed& seed : seeds) {
                std::string index;
                for (const std::string& name : seed.OnAir)
                    index += IndexLineOf(name);
                if (withEnded)
                    for (const std::string& name : seed.Ended)
                        index += IndexLineOf(name);
                seed.Yp->Enabled = true;
                server.Route(PathOf(*seed.Yp) + "index.txt", HttpReply::Ok(index));
            }
            RunCycle(true);
        }
        for (const Seed& seed : seeds)
            server.Route(PathOf(*seed.Yp) + "index.txt", HttpReply::Error(404, "Not Found"));
        net->CanDMS = canDms;
        for (const auto& [yp, on] : enabled)
            yp->Enabled = on;
        server.ClearRequests();
        net->Prepare(IniFile::Read((folder / "kavo.ini").string()));
    }

    TkavoYpItem& AddYp(const std::string& path)
    {
        auto& yp = Setting().YpList.Add(std::make_unique<TkavoYpItem>());
        yp.Title = path;
        yp.Url = server.Url(path);
        yp.Enabled = true;
        yp.ChType = "";
        return yp;
    }

    void RunCycle(bool manual)
    {
        net->Manual = manual;
        net->StartRetrieval();
        ASSERT_TRUE(loop.RunUntil([this] { return !net->Running(); }, std::chrono::seconds(60)));
    }

    std::vector<std::string> Errors()
    {
        std::lock_guard lock(m_lock);
        return errors;
    }

    // The error text of a YP whose retrieval failed with this message.
    static std::string DownloadError(const TkavoYpItem& yp, const std::string& message)
    {
        return yp.Url + "\r\n" + Sjis("ダウンロードエラー") + "\r\n" + Sjis("詳細：") + message;
    }

    std::string PathOf(const TkavoYpItem& yp) const { return yp.Url.substr(server.Url("").size()); }

    static std::vector<std::string> Names(const TkavoChList& list)
    {
        std::vector<std::string> names;
        for (const TkavoChItem& channel : list)
            names.push_back(channel.ChannelName);
        return names;
    }

    std::filesystem::path folder;
    TestHttpServer server;
    EventLoop loop;
    std::shared_ptr<ManualClock> clock;
    std::unique_ptr<TkavoNet> net;
    std::vector<std::string> cycleErrors;
    std::thread::id mainThread;
    bool errorsOnWorker = true; // every error was reported on the worker thread

private:
    // An index line for a channel of this name, with an ID of its own that stays from cycle to cycle.
    std::string IndexLineOf(const std::string& name)
    {
        const auto id = m_seedIds.emplace(name, static_cast<int>(m_seedIds.size()) + 1000).first->second;
        char hash[40];
        std::snprintf(hash, sizeof hash, "%032X", id);
        return name + "<>" + hash + "<>10.0.0.1:7144<>http://example.com/<>genre<>desc<>5<>1<>300<>WMV" +
               "<><><><><>%20<>1:05<>click<><>0\r\n";
    }

    std::mutex m_lock;
    std::vector<std::string> errors;
    TkavoSetting m_setting;
    std::map<std::string, int> m_seedIds;
};

// One index line in UTF-8 as YPs send it; the type and genre decide whether it is a PCRaw index
// channel.
inline std::string IndexLine(const std::string& name, const std::string& id, const std::string& type = "WMV",
                             const std::string& genre = "genre", const std::string& tip = "10.0.0.1:7144")
{
    return name + "<>" + id + "<>" + tip + "<>http://example.com/<>" + genre + "<>desc<>5<>1<>300<>" + type +
           "<><><><><>%20<>1:05<>click<><>0\r\n";
}

inline std::string Id(int n)
{
    char id[40];
    std::snprintf(id, sizeof id, "%032X", n);
    return id;
}

} // namespace kavo::test
