// A script's standard input read with stdin.readln and stdin.read(count) in any order: every
// character is handed out once, in order, and never split.
#include "FuzzSupport.h"

#include "common/Templates.h"
#include "script/ScriptEngine.h"
#include "script/YpScriptRunner.h"

#include <vector>

using namespace kavo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input = fuzz::Text(data, size);
    // The first bytes choose the reads: a line, everything, or a count of characters.
    std::string_view plan = input.substr(0, std::min<std::size_t>(input.size(), 16));
    input.remove_prefix(plan.size());

    static YpScriptRunner runner(".");
    runner.SetStdinText(std::string(input));
    const std::string whole = JoinLines(std::vector<std::string>(runner.StdinLines.begin(), runner.StdinLines.end()));

    std::string handedOut; // what the reads gave, with line breaks where readln took them
    std::string piece;
    std::size_t reads = 0;
    while (true) {
        const unsigned step = plan.empty() ? 0 : static_cast<unsigned char>(plan[reads % plan.size()]);
        const bool line = step % 3 == 0;
        const int count = step % 3 == 1 ? 0 : static_cast<int>(step / 3 % 16) + 1;
        piece.clear();
        if (!runner.DMSStdin(piece, count, line))
            break;
        handedOut += piece;
        if (line)
            handedOut += "\r\n";
        else if (count > 0)
            FUZZ_CHECK(script_text::CharCount(piece, ScriptText::Cp932) <= static_cast<std::size_t>(count) + 1);
        FUZZ_CHECK(++reads <= whole.size() + 1);
    }
    // Pieces read by count run on into the next line; the lines and their breaks stay in order.
    std::string expected = whole;
    std::string got = handedOut;
    std::erase(expected, '\r');
    std::erase(expected, '\n');
    std::erase(got, '\r');
    std::erase(got, '\n');
    FUZZ_CHECK(got == expected);
    return 0;
}
