// The HTML view's page from the default templates: header, one block per channel, footer.
// Reference: the step-by-step tag replacement, three regular-expression passes per tag over the
// block (a test for the ee form, a test for the es form, a replace), written out below.
// Floor: concatenating the same page from its pieces (the template's literal texts and the values,
// formatted beforehand). Copying the finished blocks whole is measured as well, for comparison.
#include "BenchChannels.h"
#include "BenchRatios.h"

#include "common/ukavoCommon.h"
#include "platform/DateTime.h"
#include "platform/RegularExpression.h"
#include "settings/TkavoSetting.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kavo::bench {
namespace {

std::string RepositoryData()
{
    return std::string(KAVO_DATA);
}

struct Fixture
{
    TkavoChList channels;
    TkavoSetting setting;
    std::unique_ptr<TkavoCommon> common;
    PageMarks marks;
    bool loaded = false;

    explicit Fixture(int count)
    {
        FillChannels(channels, count);
        for (int i = 0; i < count; i += 7) { // a few favorites and search hits, as a real list has
            channels[i].ColorEnabled = true;
            channels[i].Color = 0x80C0FF;
            channels[i].Find = i % 2 == 0;
        }
        channels.LastUpdate = Now();
        common = std::make_unique<TkavoCommon>(setting, CommonPaths{RepositoryData(), "kavo", ""}, nullptr);
        loaded = common->LoadTemplates();
        marks = common->NewPageMarks();
    }
};

const Fixture& Data(int count)
{
    static std::map<int, std::unique_ptr<Fixture>> fixtures;
    auto& fixture = fixtures[count];
    if (!fixture)
        fixture = std::make_unique<Fixture>(count);
    return *fixture;
}

std::string BuildPage(const Fixture& data)
{
    std::string page = data.common->RenderHtmlHeader(data.channels, data.marks);
    for (const TkavoChItem& channel : data.channels)
        data.common->AppendHtmlChannel(page, channel, data.marks);
    page += data.common->RenderHtmlFooter(data.channels, data.marks);
    return page;
}

// ---- the step-by-step reference

std::string Literal(const std::string& value)
{
    std::string out;
    for (const char c : value) {
        out += c;
        if (c == '$')
            out += '$';
    }
    return out;
}

std::string Slashes(std::string value)
{
    for (char& c : value)
        if (c == '\\')
            c = '/';
    return value;
}

std::string Doubled(const std::string& value)
{
    std::string out;
    for (const char c : value) {
        out += c;
        if (c == '\\')
            out += '\\';
    }
    return out;
}

// One engine per pass, so each keeps every pattern it meets compiled: the reference pays for
// matching, not for compiling.
struct Engines
{
    RegularExpression ee;
    RegularExpression es;
    RegularExpression plain;
    Engines()
    {
        for (RegularExpression* re : {&ee, &es, &plain}) {
            re->Global = true;
            re->IgnoreCase = true;
            re->Multiline = false;
        }
    }
};

std::string ReplaceTag(Engines& engines, const std::string& text, const std::string& tag, const std::string& value)
{
    engines.ee.Pattern = "\\$ee\\{" + tag + "\\}";
    if (engines.ee.Test(text))
        return engines.ee.Replace(text, Literal(Slashes(value)));
    engines.es.Pattern = "\\$es\\{" + tag + "\\}";
    if (engines.es.Test(text))
        return engines.es.Replace(text, Literal(Doubled(value)));
    engines.plain.Pattern = tag;
    return engines.plain.Replace(text, Literal(value));
}

std::string FolderPart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NamePart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExpandPathTags(Engines& engines, const TkavoCommon& common, std::string text)
{
    const TkavoSetting setting;
    const auto& etc = setting.Etc;
    text = ReplaceTag(engines, text, "<(template|skin)Path/>", common.GetTemplatePath());
    text = ReplaceTag(engines, text, "<exepath/>", RepositoryData() + "/");
    text = ReplaceTag(engines, text, "<exename/>", "kavo");
    text = ReplaceTag(engines, text, "<peercastpath/>", FolderPart(etc.PeerCast));
    text = ReplaceTag(engines, text, "<peercastname/>", NamePart(etc.PeerCast));
    text = ReplaceTag(engines, text, "<browserpath/>", FolderPart(etc.Browser));
    text = ReplaceTag(engines, text, "<browsername/>", NamePart(etc.Browser));
    text = ReplaceTag(engines, text, "<findvalue2/>", common.FindValue2);
    return text;
}

std::string ExpandListTags(Engines& engines, const TkavoCommon& common, const TkavoChList& list, std::string text)
{
    text = ExpandPathTags(engines, common, std::move(text));
    text = ReplaceTag(engines, text, "<results/>", "");
    text = ReplaceTag(engines, text, "<totalresults/>", list.StatusText());
    text = ReplaceTag(engines, text, "<lastupdate/>", FormatMonthDayTime(list.LastUpdate));
    text = ReplaceTag(engines, text, "<totalconnectbitrate/>", std::to_string(list.TotalConnectBitrate(false)));
    text = ReplaceTag(engines, text, "<totalconnectcount/>", std::to_string(list.TotalConnectCount(false)));
    return text;
}

std::string ColorOf(ColorValue color, bool enabled, const char* fallback)
{
    if (!enabled || IsSystemColor(color))
        return std::string("#") + fallback;
    char text[8];
    const auto value = static_cast<unsigned>(color);
    std::snprintf(text, sizeof text, "#%02X%02X%02X", value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
    return text;
}

std::string ExpandChannelTags(Engines& engines, const TkavoCommon& common, const TkavoChItem& source, std::string text)
{
    TkavoChItem channel;
    channel.Assign(source);
    text = ExpandPathTags(engines, common, std::move(text));
    text = ReplaceTag(engines, text, "<channelname/>", channel.ChannelName);
    text = ReplaceTag(engines, text, "<description/>", channel.GenreDescription());
    text = ReplaceTag(engines, text, "<playing/>", channel.Playing);
    text = ReplaceTag(engines, text, "<contact/>", channel.ContactURL);
    text = ReplaceTag(engines, text, "<listener/>",
                      std::to_string(channel.Listeners) + " / " + std::to_string(channel.Relays));
    text = ReplaceTag(engines, text, "<chat/>", channel.ChatURL);
    text = ReplaceTag(engines, text, "<statistics/>", channel.StatisticsURL);
    text = ReplaceTag(engines, text, "<type/>", channel.Type);
    text = ReplaceTag(engines, text, "<stream/>", channel.StreamURL);
    text = ReplaceTag(engines, text, "<directstream/>", channel.DirectStreamURL);
    text = ReplaceTag(engines, text, "<(no|num)/>", std::to_string(channel.No));
    text = ReplaceTag(engines, text, "<(diff|rank)/>", DiffText(channel.Diff));
    text = ReplaceTag(engines, text, "<bitrate/>", channel.Bitrate);
    text = ReplaceTag(engines, text, "<timestamp/>", FormatMonthDayTime(channel.TimeStamp));
    text = ReplaceTag(engines, text, "<hash/>", channel.Hash);
    if (channel.List)
        text = ReplaceTag(engines, text, "<results/>", "");
    text = ReplaceTag(engines, text, "<ypaddr/>", channel.YpAddr);
    text = ReplaceTag(engines, text, "<color/>", ColorOf(channel.Color, channel.ColorEnabled, "FFECC4"));
    text = ReplaceTag(engines, text, "<colortext/>", ColorOf(channel.ColorText, channel.ColorTextEnabled, "000000"));
    text = ReplaceTag(engines, text, "<broadcasttime/>", channel.BroadcastTime);
    text = ReplaceTag(engines, text, "<kyasukostatus/>", channel.Status);
    text = ReplaceTag(engines, text, "<comment/>", channel.Comment);
    text = ReplaceTag(engines, text, "<find/>", channel.Find ? "True" : "False");
    text = ReplaceTag(engines, text, "<findvalue/>", "");
    return text;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

std::string BuildPageStepByStep(Engines& engines, const Fixture& data)
{
    const TkavoCommon& common = *data.common;
    const std::string header = Joined(common.HeaderTemplate());
    const std::string block = Joined(common.ChannelTemplate());
    const std::string footer = Joined(common.FooterTemplate());
    std::string page = ExpandListTags(engines, common, data.channels, header);
    for (const TkavoChItem& channel : data.channels)
        page += ExpandChannelTags(engines, common, channel, block);
    page += ExpandListTags(engines, common, data.channels, footer);
    return page;
}

// ---- benchmarks

void SetCounters(benchmark::State& state, const std::string& page)
{
    state.counters["ns_per_channel"] =
        benchmark::Counter(static_cast<double>(state.range(0)),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["page_bytes"] = static_cast<double>(page.size());
}

void BM_TemplatePage(benchmark::State& state)
{
    const Fixture& data = Data(static_cast<int>(state.range(0)));
    if (!data.loaded) {
        state.SkipWithError("default templates not found");
        return;
    }
    std::string page;
    for (auto _ : state) {
        page = BuildPage(data);
        benchmark::DoNotOptimize(page.data());
    }
    SetCounters(state, page);
}
BENCHMARK(BM_TemplatePage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_TemplatePageStepByStepReference(benchmark::State& state)
{
    const Fixture& data = Data(static_cast<int>(state.range(0)));
    if (!data.loaded) {
        state.SkipWithError("default templates not found");
        return;
    }
    Engines engines;
    // Both ways must build the same page, or the comparison means nothing.
    if (BuildPageStepByStep(engines, data) != BuildPage(data)) {
        state.SkipWithError("the step-by-step page differs from the one-pass page");
        return;
    }
    std::string page;
    for (auto _ : state) {
        page = BuildPageStepByStep(engines, data);
        benchmark::DoNotOptimize(page.data());
    }
    SetCounters(state, page);
}
BENCHMARK(BM_TemplatePageStepByStepReference)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The same page put together from its pieces, the template's literal texts and the values
// already formatted: what a generator written by hand for this one template would have to copy.
void BM_TemplatePageConcatFloor(benchmark::State& state)
{
    const Fixture& data = Data(static_cast<int>(state.range(0)));
    if (!data.loaded) {
        state.SkipWithError("default templates not found");
        return;
    }
    const TkavoCommon& common = *data.common;
    const std::string header = common.RenderHtmlHeader(data.channels, data.marks);
    const std::string footer = common.RenderHtmlFooter(data.channels, data.marks);
    const auto pieces = common.Compiled(TemplateKind::Channel).Pieces();
    std::vector<std::string> values;
    values.reserve(static_cast<std::size_t>(data.channels.Count()) * pieces.size());
    std::vector<std::string_view> texts;
    for (const TkavoChItem& channel : data.channels)
        for (const auto& piece : pieces) {
            if (piece.IsSlot) {
                values.push_back(common.ExpandChannelTags(&channel, piece.Text));
                texts.emplace_back(values.back());
            } else {
                texts.push_back(piece.Text);
            }
        }
    std::string page;
    for (auto _ : state) {
        page = header;
        for (const std::string_view text : texts)
            page += text;
        page += footer;
        benchmark::DoNotOptimize(page.data());
    }
    if (page != BuildPage(data))
        state.SkipWithError("the pieces do not make the same page");
    SetCounters(state, page);
}
BENCHMARK(BM_TemplatePageConcatFloor)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// For comparison only: copying the finished blocks, one per channel.
void BM_TemplatePageCopyBlocks(benchmark::State& state)
{
    const Fixture& data = Data(static_cast<int>(state.range(0)));
    if (!data.loaded) {
        state.SkipWithError("default templates not found");
        return;
    }
    const std::string header = data.common->RenderHtmlHeader(data.channels, data.marks);
    const std::string footer = data.common->RenderHtmlFooter(data.channels, data.marks);
    std::vector<std::string> blocks;
    for (const TkavoChItem& channel : data.channels) {
        blocks.emplace_back();
        data.common->AppendHtmlChannel(blocks.back(), channel, data.marks);
    }
    std::string page;
    for (auto _ : state) {
        page = header;
        for (const std::string& block : blocks)
            page += block;
        page += footer;
        benchmark::DoNotOptimize(page.data());
    }
    SetCounters(state, page);
}
BENCHMARK(BM_TemplatePageCopyBlocks)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

namespace {
using kavo::bench::AddRatio;
const bool ratios[] = {
    AddRatio({"template page 1000: step-by-step reference / one pass", "BM_TemplatePageStepByStepReference/1000",
              "BM_TemplatePage/1000", 30, true}),
    AddRatio({"template page 10000: step-by-step reference / one pass", "BM_TemplatePageStepByStepReference/10000",
              "BM_TemplatePage/10000", 30, true}),
    AddRatio({"template page 1000: one pass / concatenation floor", "BM_TemplatePage/1000",
              "BM_TemplatePageConcatFloor/1000", 3, false}),
    AddRatio({"template page 10000: one pass / concatenation floor", "BM_TemplatePage/10000",
              "BM_TemplatePageConcatFloor/10000", 3, false}),
};
} // namespace
