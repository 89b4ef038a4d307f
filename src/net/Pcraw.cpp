#include "net/Pcraw.h"

#include "core/TkavoYpItem.h"
#include "platform/RegularExpression.h"

#include <algorithm>
#include <cstring>

namespace kavo {

namespace {

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return LowerAscii(c); });
    return lower;
}

// Replaces every occurrence of what in text; with noCase, what is lower-case ASCII and matches
// without regard to ASCII case.
std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with, bool noCase)
{
    const std::string lower = noCase ? LowerAscii(text) : std::string(text);
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = lower.find(what); at != std::string::npos; at = lower.find(what, from)) {
        out.append(text.substr(from, at - from)).append(with);
        from = at + what.size();
    }
    out.append(text.substr(from));
    return out;
}

} // namespace

PcrawLibrary::~PcrawLibrary()
{
    Unload();
}

bool PcrawLibrary::Load(const std::string& folder)
{
    Unload();
    const bool opened = (!folder.empty() && m_library.Open(folder + "/" + FileName)) || m_library.Open(FileName);
    if (!opened)
        return false;
    if (!bind()) {
        Unload();
        return false;
    }
    // Neither the answer nor the version it reports decides anything; the call lets the library
    // know what the program expects of it. The version is shown in the version dialog.
    std::int32_t version = 0;
    m_checkVersion(&version, RequiredVersion);
    m_version = version;
    return true;
}

std::string PcrawLibrary::VersionText() const
{
    if (!Loaded())
        return {};
    const auto bits = static_cast<std::uint32_t>(m_version);
    return std::to_string(bits >> 24) + "." + std::to_string((bits >> 16) & 0xFF) + "." +
           std::to_string((bits >> 8) & 0xFF) + "." + std::to_string(bits & 0xFF);
}

bool PcrawLibrary::bind()
{
    m_create = m_library.Function<CreateFn>("PCRawCreate");
    m_close = m_library.Function<HandleFn>("PCRawClose");
    m_getLength = m_library.Function<IntFn>("PCRawGetLength");
    m_getData = m_library.Function<GetDataFn>("PCRawGetData");
    m_getLastError = m_library.Function<IntFn>("PCRawGetLastError");
    m_getUpdateTime = m_library.Function<IntFn>("PCRawGetUpdateTime");
    m_dataLock = m_library.Function<HandleFn>("PCRawDataLock");
    m_dataUnlock = m_library.Function<HandleFn>("PCRawDataUnlock");
    m_checkVersion = m_library.Function<CheckVersionFn>("PCRawCheckVersion");
    // A library without one of them would be called through a null pointer later.
    return m_create && m_close && m_getLength && m_getData && m_getLastError && m_getUpdateTime && m_dataLock &&
           m_dataUnlock && m_checkVersion;
}

void PcrawLibrary::Unload()
{
    std::unordered_set<const void*> open;
    {
        std::lock_guard lock(m_lock);
        open.swap(m_open);
    }
    if (m_close)
        for (const void* handle : open)
            m_close(const_cast<void*>(handle));
    m_library.Close();
    m_create = nullptr;
    m_close = nullptr;
    m_getLength = nullptr;
    m_getData = nullptr;
    m_getLastError = nullptr;
    m_getUpdateTime = nullptr;
    m_dataLock = nullptr;
    m_dataUnlock = nullptr;
    m_checkVersion = nullptr;
    m_version = 0;
}

bool PcrawLibrary::Owns(const void* handle) const
{
    if (!handle)
        return false;
    std::lock_guard lock(m_lock);
    return m_open.count(handle) != 0;
}

void* PcrawLibrary::Create(const std::string& url)
{
    if (!Loaded())
        return nullptr;
    void* handle = m_create(url.c_str());
    if (handle) {
        std::lock_guard lock(m_lock);
        m_open.insert(handle);
    }
    return handle;
}

void PcrawLibrary::Close(void* handle)
{
    {
        std::lock_guard lock(m_lock);
        if (m_open.erase(handle) == 0)
            return;
    }
    m_close(handle);
}

std::int32_t PcrawLibrary::LastError(void* handle) const
{
    return m_getLastError(handle);
}

std::int32_t PcrawLibrary::UpdateTime(void* handle) const
{
    return m_getUpdateTime(handle);
}

std::string PcrawLibrary::Read(void* handle) const
{
    m_dataLock(handle);
    std::string data;
    std::int32_t length = 0;
    bool valid = false;
    try {
        length = m_getLength(handle);
        valid = length >= 0 && static_cast<std::size_t>(length) <= MaxDataBytes;
        if (valid) {
            // One byte more than asked for stays zero, so the text always ends.
            data.assign(static_cast<std::size_t>(length) + 1, '\0');
            m_getData(handle, data.data(), length);
            data.resize(std::strlen(data.c_str()));
        }
    } catch (...) {
        m_dataUnlock(handle);
        throw;
    }
    m_dataUnlock(handle);
    if (!valid)
        throw PcrawError("PCRaw: the channel reports " + std::to_string(length) + " bytes of data");
    return data;
}

bool PcrawHasFreshData(PcrawLibrary& library, YpRecord& yp)
{
    if (!yp.PCRawHandle)
        return false;
    if (!library.Owns(yp.PCRawHandle)) {
        yp.PCRawHandle = nullptr;
        return false;
    }
    const std::int32_t code = library.LastError(yp.PCRawHandle);
    yp.PCRawLastError = code;
    if (code < 0) {
        library.Close(yp.PCRawHandle);
        yp.PCRawHandle = nullptr;
        return false;
    }
    // The update time of the opening stays: once the channel has delivered anything, every later
    // retrieval reads it.
    return library.UpdateTime(yp.PCRawHandle) != yp.PCRawUpdateTime;
}

const TkavoChItem* FindPcrawIndexChannel(const YpRecord& yp, RegularExpression& regExp)
{
    regExp.Global = true;
    regExp.IgnoreCase = true;
    regExp.Multiline = false;
    regExp.Pattern = yp.PCRawChName2;
    for (int i = yp.ChList.Count() - 1; i >= 0; --i) {
        const TkavoChItem& channel = yp.ChList[i];
        if (LowerAscii(channel.Type) == "raw" && !yp.PCRawChName2.empty() && regExp.Test(channel.ChannelName) &&
            channel.Genre.empty() &&
            (yp.PCRawChIP.empty() || channel.StreamURL.find(yp.PCRawChIP) != std::string::npos))
            return &channel;
    }
    return nullptr;
}

std::string PcrawStreamUrl(std::string_view streamUrl)
{
    return ReplaceAll(ReplaceAll(streamUrl, "localhost", "127.0.0.1", true), "/pls/", "/stream/", false);
}

bool OpenPcrawIndexChannel(PcrawLibrary& library, YpRecord& yp, RegularExpression& regExp)
{
    const TkavoChItem* channel = FindPcrawIndexChannel(yp, regExp);
    if (!channel)
        return false;
    void* handle = library.Create(PcrawStreamUrl(channel->StreamURL));
    yp.PCRawHandle = handle;
    if (handle)
        yp.PCRawUpdateTime = library.UpdateTime(handle);
    return true;
}

} // namespace kavo
