// A stand-in for the PCRaw library: the nine functions the program calls, with the channel data,
// update time and error code that a test sets through the TestPcraw* functions, and a log of the
// calls that matter. Each loaded copy of the file has its own state.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#define PCRAW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Channel
{
    std::string Url;
};

struct State
{
    std::mutex Lock;
    std::string Data;
    std::int32_t Length = -2; // -2: the data's own length
    std::int32_t UpdateTime = 100;
    std::int32_t LastError = 0;
    bool CreateFails = false;
    bool Locked = false;
    std::set<Channel*> Open;
    std::string Log; // one line per call
};

State& S()
{
    static State state;
    return state;
}

void Log(const std::string& line)
{
    S().Log += line + "\n";
}

bool IsOpen(void* handle)
{
    return S().Open.count(static_cast<Channel*>(handle)) != 0;
}

} // namespace

PCRAW_EXPORT void* PCRawCreate(const char* url)
{
    std::lock_guard lock(S().Lock);
    Log(std::string("create ") + url);
    if (S().CreateFails)
        return nullptr;
    auto* channel = new Channel{url};
    S().Open.insert(channel);
    return channel;
}

PCRAW_EXPORT void PCRawClose(void* handle)
{
    std::lock_guard lock(S().Lock);
    if (!IsOpen(handle)) {
        Log("close of an unknown handle");
        return;
    }
    auto* channel = static_cast<Channel*>(handle);
    Log("close " + channel->Url);
    S().Open.erase(channel);
    delete channel;
}

PCRAW_EXPORT std::int32_t PCRawGetLastError(void* handle)
{
    std::lock_guard lock(S().Lock);
    return IsOpen(handle) ? S().LastError : -100;
}

PCRAW_EXPORT std::int32_t PCRawGetUpdateTime(void* handle)
{
    std::lock_guard lock(S().Lock);
    return IsOpen(handle) ? S().UpdateTime : -100;
}

PCRAW_EXPORT void PCRawDataLock(void* handle)
{
    std::lock_guard lock(S().Lock);
    Log(!IsOpen(handle) ? "lock of an unknown handle" : S().Locked ? "lock while locked" : "lock");
    S().Locked = true;
}

#ifndef TEST_PCRAW_INCOMPLETE
PCRAW_EXPORT void PCRawDataUnlock(void* handle)
{
    std::lock_guard lock(S().Lock);
    Log(!IsOpen(handle) ? "unlock of an unknown handle" : S().Locked ? "unlock" : "unlock while unlocked");
    S().Locked = false;
}
#endif

PCRAW_EXPORT std::int32_t PCRawGetLength(void* handle)
{
    std::lock_guard lock(S().Lock);
    if (!IsOpen(handle) || !S().Locked)
        Log("length without a lock");
    return S().Length != -2 ? S().Length : static_cast<std::int32_t>(S().Data.size());
}

PCRAW_EXPORT void PCRawGetData(void* handle, char* buffer, std::int32_t length)
{
    std::lock_guard lock(S().Lock);
    if (!IsOpen(handle) || !S().Locked)
        Log("data without a lock");
    // No std::to_string: its table would be a unique symbol, which keeps a library from unloading.
    char text[32];
    std::snprintf(text, sizeof text, "read %d", static_cast<int>(length));
    Log(text);
    std::memcpy(buffer, S().Data.data(), std::min<std::size_t>(static_cast<std::size_t>(length), S().Data.size()));
}

PCRAW_EXPORT std::int32_t PCRawCheckVersion(std::int32_t* version, std::int32_t required)
{
    std::lock_guard lock(S().Lock);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(required));
    Log(std::string("check version ") + text);
    *version = 0x00030000;
    return 1;
}

// ---- What the tests control

PCRAW_EXPORT void TestPcrawSetData(const char* data, std::int32_t size)
{
    std::lock_guard lock(S().Lock);
    S().Data.assign(data, static_cast<std::size_t>(size));
}

// The length the library reports instead of the data's own; -2 goes back to the data's.
PCRAW_EXPORT void TestPcrawSetLength(std::int32_t length)
{
    std::lock_guard lock(S().Lock);
    S().Length = length;
}

PCRAW_EXPORT void TestPcrawSetUpdateTime(std::int32_t time)
{
    std::lock_guard lock(S().Lock);
    S().UpdateTime = time;
}

PCRAW_EXPORT void TestPcrawSetLastError(std::int32_t code)
{
    std::lock_guard lock(S().Lock);
    S().LastError = code;
}

PCRAW_EXPORT void TestPcrawSetCreateFails(int fails)
{
    std::lock_guard lock(S().Lock);
    S().CreateFails = fails != 0;
}

PCRAW_EXPORT std::int32_t TestPcrawOpenChannels()
{
    std::lock_guard lock(S().Lock);
    return static_cast<std::int32_t>(S().Open.size());
}

// Copies the call log (up to size - 1 bytes, zero-terminated) and empties it; the log's length.
PCRAW_EXPORT std::int32_t TestPcrawTakeLog(char* buffer, std::int32_t size)
{
    std::lock_guard lock(S().Lock);
    const std::string log = std::move(S().Log);
    S().Log.clear();
    if (size > 0) {
        const std::size_t n = std::min<std::size_t>(log.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, log.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<std::int32_t>(log.size());
}
