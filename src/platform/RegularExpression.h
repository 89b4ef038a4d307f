#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

// An invalid pattern, or a match that ran into the engine's limits.
class RegularExpressionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One match of Execute. Offsets and texts are CP932 bytes of the subject.
struct RegExpMatch
{
    std::size_t FirstIndex = 0;
    std::size_t Length = 0;
    std::string Value;
    // One entry per group of the pattern; a group that took no part in the match is "".
    std::vector<std::string> SubMatches;
};

// Regular expressions in the ECMAScript-3 dialect over CP932 texts. Set the flags and the pattern,
// then call Test, Execute or Replace; an invalid pattern throws RegularExpressionError from those calls.
// Compiled patterns are cached per object. An object belongs to one thread at a time; separate
// objects share no state, so each thread keeps its own.
class RegularExpression
{
public:
    bool IgnoreCase = false;
    bool Global = false;
    bool Multiline = false;
    std::string Pattern;

    RegularExpression();
    ~RegularExpression();
    // A copy takes the flags and the pattern and starts with an empty cache of its own.
    RegularExpression(const RegularExpression& other);
    RegularExpression& operator=(const RegularExpression& other);
    RegularExpression(RegularExpression&& other) noexcept;
    RegularExpression& operator=(RegularExpression&& other) noexcept;

    // Whether the pattern matches anywhere in the subject.
    bool Test(std::string_view subject);

    // The pattern compiled with the flags of the moment, for a caller that tests it very often
    // (favorites against every channel of a refresh). It is immutable, may be kept after the
    // object moves on to other patterns and be handed to another thread, and is tested through
    // the testing thread's own object. Throws RegularExpressionError for an invalid pattern.
    class Compiled;
    std::shared_ptr<const Compiled> Compile();
    bool Test(const Compiled& pattern, std::string_view subject);
    // Every match with Global, else at most the first.
    std::vector<RegExpMatch> Execute(std::string_view subject);
    // Replaces every match with Global, else the first. The replacement understands $1..$99, $&,
    // $`, $' and $$; any other "$" stays as written.
    std::string Replace(std::string_view subject, std::string_view replacement);

private:
    class Engine;
    Engine& engine();

    std::unique_ptr<Engine> m_engine;
};

} // namespace kavo
