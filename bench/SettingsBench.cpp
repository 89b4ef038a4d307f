// Load and Save of a settings file with 200 YPs and 500 favorites, against the floor of reading
// the same file and splitting it into lines.

#include "BenchRatios.h"
#include "platform/Cp932.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace kavo;

class SettingsFile
{
public:
    SettingsFile()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kavo-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_folder = pattern;
        m_path = m_folder + "/kavo.ini";

        // What the other parts of the program keep in the same file.
        std::ofstream(m_path, std::ios::binary) << "[Window]\r\nLeft=10\r\nTop=10\r\nWidth=900\r\nHeight=700\r\n"
                                                   "[Theme]\r\nTemplates=default\r\n"
                                                   "[Notify]\r\nChannel=1\r\nRefresh=1\r\nError=1\r\n";
        TkavoSetting s;
        for (int i = 0; i < 200; ++i) {
            auto yp = std::make_unique<TkavoYpItem>();
            yp->Enabled = i % 3 != 0;
            yp->Title = Sjis("イエローページ") + std::to_string(i);
            yp->Url = "http://yp" + std::to_string(i) + ".example.jp/";
            yp->Script = i % 10 == 0 ? "/home/user/.config/kavo/script/yp" + std::to_string(i) + ".dms" : "";
            s.YpList.Add(std::move(yp));
        }
        for (int i = 0; i < 500; ++i) {
            auto f = std::make_unique<TkavoFavoriteItem>();
            f->Enabled = true;
            f->Title = Sjis("お気に入り") + std::to_string(i);
            f->Word = i % 2 ? Sjis("配信|ゲーム") + std::to_string(i) : "^(foo|bar)[0-9]+" + std::to_string(i);
            f->Channel = f->Description = true;
            f->RegExp = i % 2 == 0;
            f->ColorEnabled = i % 5 == 0;
            f->Color = 0x00CCFFCC;
            s.Favorites.Add(std::move(f));
        }
        s.Tools = {"a=xdg-open $(ContactURL)", "b=mpv $(StreamURL)"};
        s.Save(m_path);
        m_size = std::filesystem::file_size(m_path);
    }
    ~SettingsFile()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }

    const std::string& Path() const { return m_path; }
    std::uintmax_t Size() const { return m_size; }

private:
    std::string m_folder;
    std::string m_path;
    std::uintmax_t m_size = 0;
};

const SettingsFile& File()
{
    static const SettingsFile file;
    return file;
}

// The floor: the whole file into memory and a view per line.
std::size_t ReadLines(const std::string& path, std::vector<std::string_view>& lines, std::string& buffer)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st
    {};
    ::fstat(fd, &st);
    buffer.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    buffer.resize(got);
    lines.clear();
    const char* p = buffer.data();
    const char* end = p + buffer.size();
    while (p < end) {
        const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* lineEnd = lf ? lf : end;
        lines.emplace_back(p, static_cast<std::size_t>(lineEnd - p - (lineEnd > p && lineEnd[-1] == '\r')));
        p = lf ? lf + 1 : end;
    }
    return lines.size();
}

void BM_SettingsReadLinesFloor(benchmark::State& state)
{
    const SettingsFile& file = File();
    std::size_t count = 0;
    for (auto _ : state) {
        // Fresh buffers each time, as Load has them.
        std::vector<std::string_view> lines;
        std::string buffer;
        count = ReadLines(file.Path(), lines, buffer);
        benchmark::DoNotOptimize(lines.data());
    }
    state.counters["lines"] = static_cast<double>(count);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.Size()));
}
BENCHMARK(BM_SettingsReadLinesFloor)->Unit(benchmark::kMicrosecond);

void BM_SettingsLoad(benchmark::State& state)
{
    const SettingsFile& file = File();
    TkavoSetting s;
    for (auto _ : state) {
        s.Load(file.Path());
        benchmark::DoNotOptimize(s.Favorites.Count());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.Size()));
}
BENCHMARK(BM_SettingsLoad)->Unit(benchmark::kMicrosecond);
// Load and the floor timed in turn inside one loop, in the thread's CPU time, so both see the same
// machine state: the ratio of the two benchmarks above moves by a third from run to run while
// other work shares the machine, this one by a few percent.
double ThreadSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void BM_SettingsLoadVsFloor(benchmark::State& state)
{
    const SettingsFile& file = File();
    TkavoSetting s;
    double load = 0;
    double floor = 0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        {
            std::vector<std::string_view> lines;
            std::string buffer;
            benchmark::DoNotOptimize(ReadLines(file.Path(), lines, buffer));
        }
        const double t1 = ThreadSeconds();
        s.Load(file.Path());
        const double t2 = ThreadSeconds();
        floor += t1 - t0;
        load += t2 - t1;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["floor_us"] = floor * 1e6 / n;
    state.counters["load_us"] = load * 1e6 / n;
    state.counters["load_per_floor"] = load / floor;
}
BENCHMARK(BM_SettingsLoadVsFloor)->Unit(benchmark::kMicrosecond);
const bool loadRatio = kavo::bench::AddRatio(
    {"settings: Load / read and split into lines", "BM_SettingsLoadVsFloor", "", 5.0, false, "load_per_floor"});

// Save as the program runs it: re-read, apply, write a temporary file, flush it to disk, rename.
void BM_SettingsSave(benchmark::State& state)
{
    const SettingsFile& file = File();
    TkavoSetting s;
    s.Load(file.Path());
    for (auto _ : state)
        s.Save(file.Path());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.Size()));
}
BENCHMARK(BM_SettingsSave)->Unit(benchmark::kMicrosecond);

// The same without the disk: re-read, apply and produce the new text.
void BM_SettingsSaveInMemory(benchmark::State& state)
{
    const SettingsFile& file = File();
    TkavoSetting s;
    s.Load(file.Path());
    for (auto _ : state) {
        IniFile ini = IniFile::Read(file.Path());
        s.SaveTo(ini);
        benchmark::DoNotOptimize(ini.Text());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.Size()));
}
BENCHMARK(BM_SettingsSaveInMemory)->Unit(benchmark::kMicrosecond);

} // namespace
