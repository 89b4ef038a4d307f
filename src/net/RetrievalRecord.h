#pragma once

#include "core/TkavoChItem.h"
#include "core/TkavoYpItem.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kavo {

// How one enabled YP's turn in a cycle went.
enum class YpOutcome : std::uint8_t {
    Fetched = 0,    // the index was obtained and parsed
    Skipped = 1,    // fetched less than 10 minutes before: the automatic cycle left it alone
    Failed = 2,     // download, script or conversion error
    NotIndex = 3,   // the answer was plainly not an index (an HTML page, no line of 19 fields)
    Incomplete = 4, // the server closed the connection early; the YP keeps its channels
    // A YP that listed channels answered 200 with no index line at all (a broken chunked answer,
    // say): fetched, and so emptied, but shown apart so that the user sees it.
    Empty = 5,
};
constexpr int YpOutcomeCount = 6;
// The index was obtained and taken over: Fetched or Empty.
constexpr bool Taken(YpOutcome outcome)
{
    return outcome == YpOutcome::Fetched || outcome == YpOutcome::Empty;
}

// "取得", "スキップ", ... in CP932.
const std::string& YpOutcomeText(YpOutcome outcome);

// One enabled YP's turn in a cycle, for whoever keeps a record of refreshes.
struct YpAttempt
{
    std::string Url;
    std::string Title;
    YpOutcome Outcome = YpOutcome::Skipped;
    DateTime Time = 0;            // when the turn began
    long HttpStatus = 0;          // 0 without an HTTP answer (script, PCRaw channel, network failure)
    std::uint64_t Bytes = 0;      // of the index as obtained, after decompression
    int Channels = 0;             // the YP's channels after its turn
    ChannelFilterCounts Filtered; // Fetched: what the YP's type and bitrate filters hid
    int DurationMs = 0;
    std::string Error; // the error text of a failure, as OnError got it (CP932)
    // Fetched: the index text as parsed (CP932), which the receiver may take.
    std::string Index;
    // The YP's channels after its turn; valid only while the record is being handed over.
    const TkavoChList* ChList = nullptr;
};

// What one cycle did, YP by YP, in configuration order; disabled YPs are left out.
struct RetrievalRecord
{
    DateTime Time = 0; // the cycle's start
    std::vector<YpAttempt> Attempts;
};

} // namespace kavo
