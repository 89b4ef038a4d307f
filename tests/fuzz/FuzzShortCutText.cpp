// The shortcut text form of KeyConfig.ini: any value reads as at most one key, and a key that was
// read is written as a short text that reads back as the same key and is written the same again,
// so saving and loading never drift. Keys of the number pad without a name of their own (digits,
// arrows, Enter) are written as the main key and read back as it. The same holds for every Windows shortcut value the
// file may hold instead of a text.
#include "FuzzSupport.h"

#include "ui/keys/ShortCutText.h"

using namespace kavo;

namespace {

// The text form of a key is its modifiers and one key name, never more than this.
constexpr qsizetype LongestText = 64;

void CheckRoundTrip(const QKeySequence& key)
{
    FUZZ_CHECK(key.count() <= 1);
    if (key.isEmpty())
        return;
    const QString text = ShortCutToText(key);
    FUZZ_CHECK(text.size() <= LongestText);
    if (text.isEmpty())
        return;
    const QKeySequence back = TextToShortCut(text);
    FUZZ_CHECK(back.count() == 1);
    FUZZ_CHECK(ShortCutToText(back) == text);
    FUZZ_CHECK(back[0].key() == key[0].key());
    FUZZ_CHECK((back[0].keyboardModifiers() | Qt::KeypadModifier) == (key[0].keyboardModifiers() | Qt::KeypadModifier));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = fuzz::Text(data, size);
    const QString text = QString::fromUtf8(input.data(), static_cast<qsizetype>(input.size()));
    CheckRoundTrip(ParseKeyConfigValue(text));
    CheckRoundTrip(TextToShortCut(text));
    if (size >= 2)
        CheckRoundTrip(ShortCutValueToKey(data[0] | data[1] << 8));
    return 0;
}
