#include "core/BroadcastIdentity.h"

#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"

#include <algorithm>
#include <charconv>
#include <functional>

namespace kavo {

namespace {

// The text a character reference stands for (CP932); empty when it is none the lists use.
std::string DecodeReference(std::string_view reference)
{
    const std::string_view body = reference.substr(1, reference.size() - 2);
    if (!body.empty() && body[0] == '#') {
        const bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
        const std::string_view digits = body.substr(hex ? 2 : 1);
        unsigned long code = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
        if (error != std::errc() || end != digits.data() + digits.size() || code == 0 || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF))
            return {};
        if (code == 0xA0)
            return " ";
        std::string utf8;
        const auto c = static_cast<char32_t>(code);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
        return Utf8ToCp932(utf8);
    }
    // The named ones: those the lists escape with, in any letter case.
    const std::string decoded = HtmlDecode(reference);
    return decoded == reference ? std::string() : decoded;
}

bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::string FoldBroadcastText(std::string_view cp932)
{
    // References first, so that "&amp;" and "&" fold alike.
    std::string decoded;
    if (cp932.find('&') != std::string_view::npos) {
        decoded.reserve(cp932.size());
        for (std::size_t i = 0; i < cp932.size();) {
            const std::size_t length = Cp932CharLength(cp932, i);
            if (cp932[i] == '&') {
                if (const std::size_t ref = CharacterReferenceLength(cp932, i); ref > 0) {
                    const std::string text = DecodeReference(cp932.substr(i, ref));
                    if (!text.empty()) {
                        decoded += text;
                        i += ref;
                        continue;
                    }
                }
            }
            decoded.append(cp932.substr(i, length));
            i += length;
        }
        cp932 = decoded;
    }

    std::string out;
    out.reserve(cp932.size());
    bool blank = false;
    const auto put = [&](std::string_view piece) {
        if (blank && !out.empty())
            out += ' ';
        blank = false;
        out.append(piece);
    };
    for (std::size_t i = 0; i < cp932.size();) {
        const auto c = static_cast<unsigned char>(cp932[i]);
        if (Cp932CharLength(cp932, i) == 2) {
            const auto t = static_cast<unsigned char>(cp932[i + 1]);
            i += 2;
            if (c == 0x81 && t == 0x40) { // full-width space
                blank = true;
            } else if (c == 0x82 && t >= 0x4F && t <= 0x58) { // full-width digits
                put(std::string(1, static_cast<char>('0' + (t - 0x4F))));
            } else if (c == 0x82 && t >= 0x60 && t <= 0x79) { // full-width capitals
                put(std::string(1, static_cast<char>('a' + (t - 0x60))));
            } else if (c == 0x82 && t >= 0x81 && t <= 0x9A) { // full-width small letters
                put(std::string(1, static_cast<char>('a' + (t - 0x81))));
            } else {
                const char pair[2] = {static_cast<char>(c), static_cast<char>(t)};
                put(std::string_view(pair, 2));
            }
            continue;
        }
        ++i;
        if (IsBlank(c)) {
            blank = true;
        } else {
            const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
            put(std::string_view(&lower, 1));
        }
    }
    return out;
}

BroadcastKey BroadcastKey::Of(const TkavoChItem& channel)
{
    return {FoldBroadcastText(channel.ChannelName), FoldBroadcastText(channel.ContactURL)};
}

std::size_t BroadcastKeyHash::operator()(const BroadcastKey& key) const
{
    const std::size_t a = std::hash<std::string>{}(key.Name);
    const std::size_t b = std::hash<std::string>{}(key.Contact);
    return a ^ (b + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
}

std::size_t BroadcastGroups::GroupOf(const TkavoChItem& channel)
{
    return GroupOf(channel, BroadcastKey::Of(channel));
}

std::size_t BroadcastGroups::GroupOf(const TkavoChItem& channel, const BroadcastKey& key)
{
    if (const auto found = m_byKey.find(key); found != m_byKey.end())
        return found->second;
    std::size_t group = m_count;
    if (channel.HasHash()) {
        const auto [at, inserted] = m_byHash.try_emplace(channel.Hash, group, key.Name);
        if (!inserted && at->second.second == key.Name)
            group = at->second.first;
    }
    if (group == m_count)
        ++m_count;
    m_byKey.emplace(key, group);
    return group;
}

std::vector<std::vector<const TkavoChItem*>> GroupBroadcasts(const TkavoChList& list,
                                                             const std::function<int(const TkavoChItem&)>& rank)
{
    std::vector<std::vector<const TkavoChItem*>> groups;
    BroadcastGroups numbers;
    for (const TkavoChItem& channel : list) {
        const std::size_t group = numbers.GroupOf(channel);
        if (group == groups.size())
            groups.emplace_back();
        groups[group].push_back(&channel);
    }
    for (auto& group : groups)
        if (group.size() > 1)
            std::stable_sort(group.begin(), group.end(),
                             [&](const TkavoChItem* a, const TkavoChItem* b) { return rank(*a) < rank(*b); });
    return groups;
}

} // namespace kavo
