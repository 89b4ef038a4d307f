#include "net/LocalChannels.h"

#include "net/HttpClient.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"

#include <charconv>
#include <exception>
#include <memory>
#include <unordered_map>
#include <vector>

namespace kavo {

namespace {

void UseDocumentFlags(RegularExpression& regExp)
{
    regExp.IgnoreCase = true;
    regExp.Global = true;
    regExp.Multiline = false;
}

int IntegerOr0(std::string_view text)
{
    if (text.starts_with('+'))
        text.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

} // namespace

std::string AttributeValue(std::string_view name, std::string_view text, RegularExpression& regExp)
{
    UseDocumentFlags(regExp);
    regExp.Pattern = std::string(name) + "=\"([^\"]*)\"";
    const std::vector<RegExpMatch> matches = regExp.Execute(text);
    return matches.size() == 1 ? matches.front().SubMatches.at(0) : std::string();
}

bool ParseLocalChannels(std::string_view document, RegularExpression& regExp, TkavoChList& list)
{
    std::string text = Utf8ToCp932(document);
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    if (text.empty())
        return false;

    std::vector<std::unique_ptr<TkavoChItem>> channels;
    try {
        UseDocumentFlags(regExp);
        regExp.Pattern = "<channels_relayed[^>]*>(.+)</channels_relayed>";
        const std::vector<RegExpMatch> relayed = regExp.Execute(text);
        if (relayed.size() == 1) {
            text = relayed.front().SubMatches.at(0);
        } else {
            // A server that relays nothing writes an empty element. The rest of the document
            // lists channels the server merely knows of, which must not be taken for relayed ones.
            regExp.Pattern = "<channels_relayed[\\s/>]";
            if (regExp.Test(text))
                text.clear();
        }

        // Host and hits elements carry network-wide listeners and relays of their own; only the
        // relay element's local figures may remain, each exactly once.
        regExp.Pattern = "<(host|hits)[^>]*>";
        text = regExp.Replace(text, "");

        regExp.Pattern = "<channel([^>]*)>(.*?)</channel>";
        const std::vector<RegExpMatch> elements = regExp.Execute(text);
        for (const RegExpMatch& element : elements) {
            const std::string& attributes = element.SubMatches.at(0);
            const std::string& content = element.SubMatches.at(1);
            auto channel = std::make_unique<TkavoChItem>();
            channel->Hash = AttributeValue("id", attributes, regExp);
            channel->Listeners = IntegerOr0(AttributeValue("listeners", content, regExp));
            channel->Relays = IntegerOr0(AttributeValue("relays", content, regExp));
            channel->LocalStatus = AttributeValue("status", content, regExp);
            channels.push_back(std::move(channel));
        }
    } catch (const std::exception&) {
        // A document the engine cannot take gives no new information, like an unreachable server.
        return false;
    }

    list.Clear();
    list.Reserve(static_cast<int>(channels.size()));
    for (auto& channel : channels)
        list.Add(std::move(channel));
    return true;
}

bool ReadLocalChannels(bool enabled, const std::string& address, HttpClient& http, RegularExpression& regExp,
                       TkavoChList& list)
{
    if (!enabled) {
        list.Clear();
        return false;
    }
    const HttpResponse response = http.Get(address);
    if (response.Outcome != HttpOutcome::Complete)
        return false;
    ParseLocalChannels(response.Body, regExp, list);
    return true;
}

bool HasSourceConnection(std::string_view localStatus)
{
    return localStatus == "RECEIVE" || localStatus == "BROADCAST";
}

void MarkLocal(YpRecord& yp, const TkavoChList& local)
{
    if (local.Count() == 0)
        return;
    // A channel listed twice by the server takes each listing in turn, the last one winning,
    // just as walking the server's list in order would.
    std::unordered_map<std::string_view, std::vector<const TkavoChItem*>> byHash;
    for (const TkavoChItem& entry : local)
        byHash[entry.Hash].push_back(&entry);

    for (TkavoChItem& channel : yp.ChList) {
        const auto found = byHash.find(channel.Hash);
        if (found == byHash.end())
            continue;
        for (const TkavoChItem* entry : found->second) {
            channel.LocalStatus = entry->LocalStatus;
            if (entry->Listeners >= 1 && entry->LocalStatus == "RECEIVE")
                channel.Diff = TkavoDiff::Playing;
            else if (channel.Diff != TkavoDiff::Change)
                channel.Diff = entry->LocalStatus == "IDLE" ? TkavoDiff::Idle : TkavoDiff::Relaying;
        }
    }
}

} // namespace kavo
