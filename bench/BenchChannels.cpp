#include "BenchChannels.h"

#include "IndexGenerator.h"

#include <charconv>
#include <string_view>
#include <vector>

namespace kavo::bench {

void FillChannels(TkavoChList& list, int channels, std::uint32_t seed)
{
    const std::string index = GenerateIndex(channels, IndexEncoding::Cp932, seed);
    std::string_view rest = index;
    std::vector<std::string_view> fields;
    int no = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        fields.clear();
        for (std::size_t pos = 0;;) {
            const std::size_t sep = line.find("<>", pos);
            fields.push_back(line.substr(pos, sep - pos));
            if (sep == std::string_view::npos)
                break;
            pos = sep + 2;
        }
        auto number = [](std::string_view text) {
            int value = 0;
            std::from_chars(text.data(), text.data() + text.size(), value);
            return value;
        };
        auto& channel = list.Add(std::make_unique<TkavoChItem>());
        channel.No = ++no;
        channel.ChannelName = fields[0];
        channel.Hash = fields[1];
        channel.ContactURL = fields[3];
        channel.Genre = fields[4];
        channel.Description = fields[5];
        channel.Listeners = number(fields[6]);
        channel.Relays = number(fields[7]);
        channel.BitrateValue = number(fields[8]);
        channel.Type = fields[9];
        channel.Playing = "Playing: " + std::string(fields[10]) + " - " + std::string(fields[12]);
        channel.BroadcastTime = fields[15];
        if (!fields[17].empty())
            channel.Comment = "[" + std::string(fields[17]) + "]";
        channel.YpAddr = "http://yp.example.net/";
        channel.StreamURL = "http://localhost:7144/pls/" + channel.Hash;
    }
}

} // namespace kavo::bench
