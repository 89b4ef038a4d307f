#pragma once

#include "platform/DynamicLibrary.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>

namespace kavo {

struct TkavoChItem;
struct YpRecord;
class RegularExpression;

// Reading a channel's data failed; the YP's retrieval fails with this message.
class PcrawError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The PCRaw library, which opens a YP's index channel (a RAW channel carrying index.txt) through
// the local PeerCast server and hands over the data it delivers. Optional: without it, or when it
// does not offer all nine functions, PCRaw is off and every YP goes over HTTP.
//
// Load and Unload run on the main thread while no cycle runs; the channel calls on the retrieval
// worker. Only handles this object gave out are ever passed to the library, so a stale handle
// left in a YP record can never reach it.
class PcrawLibrary
{
public:
    static constexpr const char* FileName = "libpcraw.so";
    static constexpr std::int32_t RequiredVersion = 0x00030000;
    // More data than this is no index; the read fails instead of taking the memory.
    static constexpr std::size_t MaxDataBytes = std::size_t{32} << 20;

    PcrawLibrary() = default;
    ~PcrawLibrary();
    PcrawLibrary(const PcrawLibrary&) = delete;
    PcrawLibrary& operator=(const PcrawLibrary&) = delete;

    // Loads the library from the folder, else along the system's library path, and checks its
    // version. False leaves PCRaw off; there is nothing to report.
    bool Load(const std::string& folder);
    // Closes every channel still open, then unloads the library.
    void Unload();
    bool Loaded() const { return m_library.IsOpen(); }
    // The version the library reported in its version check, 0 when none is loaded, and the same
    // as four numbers, one per byte from the highest ("0.3.0.0"); "" when none is loaded.
    std::int32_t Version() const { return m_version; }
    std::string VersionText() const;

    // A handle this library gave out and that was not closed since.
    bool Owns(const void* handle) const;
    // Opens the channel behind a stream URL of the local server; nullptr when it cannot.
    void* Create(const std::string& url);
    void Close(void* handle);
    // Negative: the channel is dead and must be closed; 0: healthy; positive: a passing problem.
    std::int32_t LastError(void* handle) const;
    // Changes whenever the channel has delivered new data.
    std::int32_t UpdateTime(void* handle) const;
    // The channel's current data up to its first zero byte. Throws PcrawError.
    std::string Read(void* handle) const;

private:
    using CreateFn = void* (*)(const char*);
    using HandleFn = void (*)(void*);
    using IntFn = std::int32_t (*)(void*);
    using GetDataFn = void (*)(void*, char*, std::int32_t);
    using CheckVersionFn = std::int32_t (*)(std::int32_t*, std::int32_t);

    bool bind();

    DynamicLibrary m_library;
    CreateFn m_create = nullptr;
    HandleFn m_close = nullptr;
    IntFn m_getLength = nullptr;
    GetDataFn m_getData = nullptr;
    IntFn m_getLastError = nullptr;
    IntFn m_getUpdateTime = nullptr;
    HandleFn m_dataLock = nullptr;
    HandleFn m_dataUnlock = nullptr;
    CheckVersionFn m_checkVersion = nullptr;
    std::int32_t m_version = 0;

    mutable std::mutex m_lock; // m_open
    std::unordered_set<const void*> m_open;
};

// Whether the YP's open channel has delivered data since it was opened. Reads the last error code
// into PCRawLastError; a negative code closes the channel. A handle the library did not give out
// is dropped.
bool PcrawHasFreshData(PcrawLibrary& library, YpRecord& yp);

// The YP's index channel: walking ChList from the end, the first RAW channel without genre whose
// name matches PCRawChName2 and whose stream URL contains PCRawChIP. nullptr when there is none.
// Throws RegularExpressionError when PCRawChName2 is no valid pattern.
const TkavoChItem* FindPcrawIndexChannel(const YpRecord& yp, RegularExpression& regExp);

// The stream URL as the local server serves the channel's data: the loopback host name becomes
// "127.0.0.1" and "/pls/" becomes "/stream/".
std::string PcrawStreamUrl(std::string_view streamUrl);

// Looks for the YP's index channel and opens it, recording handle and update time. False when
// there is none (then nothing was tried).
bool OpenPcrawIndexChannel(PcrawLibrary& library, YpRecord& yp, RegularExpression& regExp);

} // namespace kavo
