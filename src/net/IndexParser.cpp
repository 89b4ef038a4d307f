#include "net/IndexParser.h"

#include "net/RecordPool.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/RegularExpression.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <memory>

namespace kavo {

namespace {

// Above this many distinct types the filter stops remembering results; no YP has that many.
constexpr std::size_t TypeCacheLimit = 32;

void Append(std::string& out, std::string_view a, std::string_view b)
{
    out.reserve(a.size() + b.size());
    out.append(a);
    out.append(b);
}

} // namespace

void SplitFields(std::string_view text, std::string_view separator, std::vector<std::string_view>& fields,
                 std::size_t maxFields)
{
    fields.clear();
    std::size_t pos = 0;
    while (fields.size() < maxFields) {
        const std::size_t hit = text.find(separator, pos);
        if (hit == std::string_view::npos) {
            if (pos < text.size())
                fields.push_back(text.substr(pos));
            return;
        }
        fields.push_back(text.substr(pos, hit - pos));
        pos = hit + separator.size();
    }
}

std::int32_t IndexInteger(std::string_view text, std::int32_t fallback)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return fallback;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return fallback;
        value = value * 10 + (c - '0');
        if (value > limit)
            return fallback;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return fallback;
    return static_cast<std::int32_t>(value);
}

ChannelFilter::ChannelFilter(const TkavoYpItem& yp, RegularExpression& regExp) : m_regExp(regExp), m_pattern(yp.ChType)
{
    std::vector<std::string_view> pieces;
    SplitFields(yp.Bitrate, ",", pieces);
    if (pieces.size() >= 2) {
        m_min = IndexInteger(pieces[0], -1);
        m_max = IndexInteger(pieces[1], -1);
    }
}

bool ChannelFilter::typeMatches(std::string_view type)
{
    if (m_pattern.empty())
        return true;
    for (const auto& [known, result] : m_typeResults)
        if (known == type)
            return result;
    bool result = false;
    try {
        m_regExp.IgnoreCase = true;
        m_regExp.Global = true;
        m_regExp.Multiline = false;
        m_regExp.Pattern = m_pattern;
        result = m_regExp.Test(type);
    } catch (const RegularExpressionError&) {
        // An invalid expression fails every line, and the YP's list comes out empty.
        result = false;
    }
    if (m_typeResults.size() < TypeCacheLimit)
        m_typeResults.emplace_back(std::string(type), result);
    return result;
}

bool ChannelFilter::AcceptsBitrate(std::int32_t bitrate) const
{
    return !(m_min >= 0 && bitrate < m_min) && !(m_max >= 0 && bitrate >= m_max);
}

bool ChannelFilter::Accepts(std::int32_t bitrate, std::string_view type)
{
    return AcceptsBitrate(bitrate) && typeMatches(type);
}

bool ChannelFilter::AcceptChannel(const TkavoChItem& channel)
{
    return Accepts(channel.BitrateValue, channel.Type);
}

int CountLines(std::string_view text)
{
    int lines = 0;
    ForEachLine(text, [&](std::string_view) { ++lines; });
    return lines;
}

int CountChannelLines(std::string_view index, int limit)
{
    int count = 0;
    ForEachLine(index, [&](std::string_view line) {
        if (count > limit)
            return;
        int separators = 0;
        for (std::size_t at = line.find("<>"); at != std::string_view::npos && separators < IndexFieldCount - 1;
             at = line.find("<>", at + 2))
            ++separators;
        if (separators >= IndexFieldCount - 1)
            ++count;
    });
    return count;
}

namespace {

void ParseInto(YpRecord& yp, std::string_view index, RegularExpression& regExp, RecordPool& pool)
{
    static const std::string commentOpen = Sjis("「");
    static const std::string commentClose = Sjis("」");
    const DateTime parseTime = Now();
    ChannelFilter filter(yp, regExp);
    const std::string streamPrefix = yp.Host.empty() ? "peercast://pls/" : "http://" + yp.Host + "/pls/";
    const std::string chatPrefix = yp.Url + (yp.ChatURLFix ? "getchat?id=" : "chat.php?cn=");
    const std::string statisticsPrefix = yp.Url + (yp.ChatURLFix ? "getgmt?id=" : "getgmt.php?cn=");

    TkavoChList& list = yp.ChList;
    list.Reserve(list.Count() + CountLines(index));
    std::vector<std::string_view> f;
    f.reserve(IndexFieldCount);
    std::int32_t no = 0;
    ChannelFilterCounts counts;
    ForEachLine(index, [&](std::string_view line) {
        ++no;
        SplitFields(line, "<>", f, IndexFieldCount);
        if (f.size() < IndexFieldCount)
            return;
        ++counts.Listed;
        // The filter needs only two fields: a rejected line builds no record.
        const std::int32_t bitrate = IndexInteger(f[8], 0);
        if (!filter.AcceptsBitrate(bitrate)) {
            ++counts.HiddenByBitrate;
            return;
        }
        if (!filter.AcceptsType(f[9])) {
            ++counts.HiddenByType;
            return;
        }

        std::unique_ptr<TkavoChItem> channel = pool.Take();
        TkavoChItem& c = *channel;
        c.No = no;
        c.ChannelName = f[0];
        c.Genre = f[4];
        c.Description = f[5];
        std::size_t playing = 0;
        for (int i = 10; i <= 13; ++i)
            if (!f[i].empty())
                playing += (playing == 0 ? 9 : 3) + f[i].size();
        if (playing > 0) {
            c.Playing.reserve(playing);
            for (int i = 10; i <= 13; ++i) {
                if (f[i].empty())
                    continue;
                c.Playing += c.Playing.empty() ? "Playing: " : " - ";
                c.Playing += f[i];
            }
        }
        c.Listeners = IndexInteger(f[6], -1);
        c.Relays = IndexInteger(f[7], -1);
        c.BitrateValue = bitrate;
        char number[16];
        const auto end = std::to_chars(number, number + sizeof number, bitrate).ptr;
        c.Bitrate.assign(number, end);
        c.Bitrate += " kb/s";
        c.Hash = f[1];
        c.Type = f[9];
        c.StreamURL.reserve(streamPrefix.size() + f[1].size() + (f[2].empty() ? 0 : 5 + f[2].size()));
        c.StreamURL += streamPrefix;
        c.StreamURL += f[1];
        if (!f[2].empty()) {
            c.StreamURL += "?tip=";
            c.StreamURL += f[2];
        }
        c.ContactURL = f[3];
        const std::string_view chatKey = yp.ChatURLFix ? f[1] : f[14];
        Append(c.ChatURL, chatPrefix, chatKey);
        Append(c.StatisticsURL, statisticsPrefix, chatKey);
        c.BroadcastTime = f[15];
        c.Status = f[16];
        if (!f[17].empty()) {
            c.Comment.reserve(commentOpen.size() + f[17].size() + commentClose.size());
            c.Comment += commentOpen;
            c.Comment += f[17];
            c.Comment += commentClose;
        }
        c.TimeStamp = parseTime;
        c.YpAddr = yp.Url;
        if (f[18] == "1") {
            c.DirectStreamURL.reserve(7 + f[2].size() + 5 + f[1].size());
            c.DirectStreamURL += "http://";
            c.DirectStreamURL += f[2];
            c.DirectStreamURL += "/pls/";
            c.DirectStreamURL += f[1];
        }
        list.Add(std::move(channel));
    });
    yp.Filtered = counts;
}

} // namespace

std::string NotIndexReason(std::string_view text)
{
    bool blank = true;
    bool fields = false;
    ForEachLine(text, [&](std::string_view line) {
        if (fields)
            return;
        if (line.find_first_not_of(" \t\f\v") != std::string_view::npos)
            blank = false;
        int separators = 0;
        for (std::size_t at = line.find("<>"); at != std::string_view::npos && separators < IndexFieldCount - 1;
             at = line.find("<>", at + 2))
            ++separators;
        fields = separators >= IndexFieldCount - 1;
    });
    if (blank || fields)
        return {};
    std::string head(text.substr(0, 4096));
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* tag : {"<html", "<!doctype html", "<head", "<body"})
        if (head.find(tag) != std::string::npos)
            return "the answer is an HTML page, not a channel index";
    return "no line of the answer has the 19 fields of a channel index";
}

void ParseIndex(YpRecord& yp, std::string_view index, RegularExpression& regExp)
{
    RecordPool none;
    ParseInto(yp, index, regExp, none);
}

void ReplaceFromIndex(YpRecord& yp, std::string_view index, RegularExpression& regExp)
{
    RecordPool old(yp.ChList);
    ParseInto(yp, index, regExp, old);
}

} // namespace kavo
