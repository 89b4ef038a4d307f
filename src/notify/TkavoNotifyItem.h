#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kavo {

// Icon kinds of a notification.
enum class NotifyKind : std::uint8_t {
    None = 0,
    Error = 1,
    Information = 2,
    Warning = 3,
};

// A channel a notification announces, as its actions need it later (CP932).
struct NotifyChannel
{
    std::string Hash;
    std::string ChannelName;
    std::string StreamURL;
    std::string Type;
    bool operator==(const NotifyChannel&) const = default;
};

// One notification: texts are CP932, Text holds its lines joined by CR LF.
struct TkavoNotifyItem
{
    std::string Text;
    std::string Title;
    std::uint8_t Kind = 0;               // a NotifyKind; other values show no icon
    std::vector<std::string> Sounds;     // sound files (CP932 paths) to play with it
    std::vector<NotifyChannel> Channels; // the channels it announces, in its order

    void Assign(const TkavoNotifyItem& source) { *this = source; }
};

// First-in first-out queue of notifications. The retrieval worker pushes error notifications while
// the main thread pushes and pops, so every operation takes the one lock.
class TkavoNotifyQueue
{
public:
    void Push(std::unique_ptr<TkavoNotifyItem> item);
    // The oldest item, or null when the queue is empty.
    std::unique_ptr<TkavoNotifyItem> Pop();
    int Count() const;
    // Frees every waiting item.
    void Clear();

private:
    mutable std::mutex m_lock;
    std::deque<std::unique_ptr<TkavoNotifyItem>> m_items;
};

} // namespace kavo
