#include "ui/keys/ShortCutText.h"

#include <array>
#include <optional>

namespace kavo {

namespace {

struct VirtualKey
{
    int Code;
    Qt::Key Key;
    bool Keypad = false;
    const char* Name = nullptr; // the fixed name; null: derived
};

// The virtual-key codes that have a key on a Linux keyboard. The punctuation keys follow the
// Japanese 106/109 layout, which the files of the Windows program were made with; keys that only
// other layouts have (=, ', `) have no code and are written with Qt's names.
constexpr VirtualKey VirtualKeys[] = {
    {0x08, Qt::Key_Backspace, false, "BkSp"},
    {0x09, Qt::Key_Tab, false, "Tab"},
    {0x0C, Qt::Key_Clear},
    {0x0D, Qt::Key_Return, false, "Enter"},
    {0x13, Qt::Key_Pause},
    {0x14, Qt::Key_CapsLock},
    {0x15, Qt::Key_Hiragana_Katakana},
    {0x19, Qt::Key_Zenkaku_Hankaku},
    {0x1B, Qt::Key_Escape, false, "Esc"},
    {0x1C, Qt::Key_Henkan},
    {0x1D, Qt::Key_Muhenkan},
    {0x20, Qt::Key_Space, false, "Space"},
    {0x21, Qt::Key_PageUp, false, "PgUp"},
    {0x22, Qt::Key_PageDown, false, "PgDn"},
    {0x23, Qt::Key_End, false, "End"},
    {0x24, Qt::Key_Home, false, "Home"},
    {0x25, Qt::Key_Left, false, "Left"},
    {0x26, Qt::Key_Up, false, "Up"},
    {0x27, Qt::Key_Right, false, "Right"},
    {0x28, Qt::Key_Down, false, "Down"},
    {0x29, Qt::Key_Select},
    {0x2A, Qt::Key_Printer},
    {0x2B, Qt::Key_Execute},
    {0x2C, Qt::Key_Print}, // Print Screen
    {0x2D, Qt::Key_Insert, false, "Ins"},
    {0x2E, Qt::Key_Delete, false, "Del"},
    {0x2F, Qt::Key_Help},
    {0x5B, Qt::Key_Super_L},
    {0x5C, Qt::Key_Super_R},
    {0x5D, Qt::Key_Menu},
    {0x5F, Qt::Key_Sleep},
    {0x6A, Qt::Key_Asterisk, true},
    {0x6B, Qt::Key_Plus, true},
    {0x6C, Qt::Key_Comma, true},
    {0x6D, Qt::Key_Minus, true},
    {0x6E, Qt::Key_Period, true},
    {0x6F, Qt::Key_Slash, true},
    {0x90, Qt::Key_NumLock},
    {0x91, Qt::Key_ScrollLock},
    {0xA6, Qt::Key_Back},
    {0xA7, Qt::Key_Forward},
    {0xA8, Qt::Key_Refresh},
    {0xA9, Qt::Key_Stop},
    {0xAA, Qt::Key_Search},
    {0xAB, Qt::Key_Favorites},
    {0xAC, Qt::Key_HomePage},
    {0xAD, Qt::Key_VolumeMute},
    {0xAE, Qt::Key_VolumeDown},
    {0xAF, Qt::Key_VolumeUp},
    {0xB0, Qt::Key_MediaNext},
    {0xB1, Qt::Key_MediaPrevious},
    {0xB2, Qt::Key_MediaStop},
    {0xB3, Qt::Key_MediaPlay}, // the play/pause key reports "play" on Linux
    {0xB4, Qt::Key_LaunchMail},
    {0xB5, Qt::Key_LaunchMedia},
    {0xB6, Qt::Key_Launch0},
    {0xB7, Qt::Key_Launch1},
    {0xBA, Qt::Key_Colon},
    {0xBB, Qt::Key_Semicolon},
    {0xBC, Qt::Key_Comma},
    {0xBD, Qt::Key_Minus},
    {0xBE, Qt::Key_Period},
    {0xBF, Qt::Key_Slash},
    {0xC0, Qt::Key_At},
    {0xDB, Qt::Key_BracketLeft},
    {0xDC, Qt::Key_Backslash},
    {0xDD, Qt::Key_BracketRight},
    {0xDE, Qt::Key_AsciiCircum},
};

// Keys Linux reports under another name for the same key.
constexpr std::pair<Qt::Key, int> KeyAliases[] = {
    {Qt::Key_Enter, 0x0D},      {Qt::Key_Backtab, 0x09}, {Qt::Key_MediaTogglePlayPause, 0xB3},
    {Qt::Key_Calculator, 0xB7}, {Qt::Key_yen, 0xDC},
};

std::optional<QKeyCombination> Lookup(int code)
{
    if (code >= '0' && code <= '9')
        return QKeyCombination(static_cast<Qt::Key>(Qt::Key_0 + (code - '0')));
    if (code >= 'A' && code <= 'Z')
        return QKeyCombination(static_cast<Qt::Key>(Qt::Key_A + (code - 'A')));
    if (code >= 0x60 && code <= 0x69)
        return QKeyCombination(Qt::KeypadModifier, static_cast<Qt::Key>(Qt::Key_0 + (code - 0x60)));
    if (code >= 0x70 && code <= 0x87)
        return QKeyCombination(static_cast<Qt::Key>(Qt::Key_F1 + (code - 0x70)));
    for (const VirtualKey& vk : VirtualKeys)
        if (vk.Code == code)
            return vk.Keypad ? QKeyCombination(Qt::KeypadModifier, vk.Key) : QKeyCombination(vk.Key);
    return std::nullopt;
}

QString PortableName(QKeyCombination key)
{
    return QKeySequence(key).toString(QKeySequence::PortableText);
}

QString ComputeName(int code)
{
    if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z'))
        return QString(QChar(code));
    if (code >= 0x60 && code <= 0x69)
        return QString(QChar('0' + (code - 0x60)));
    if (code >= 0x70 && code <= 0x87)
        return QStringLiteral("F%1").arg(code - 0x70 + 1);
    for (const VirtualKey& vk : VirtualKeys)
        if (vk.Code == code && vk.Name)
            return QString::fromLatin1(vk.Name);
    const auto key = Lookup(code);
    return key ? PortableName(*key) : QString();
}

// Parsing compares with every name from 8 upwards, so they are made once.
const std::array<QString, 256>& Names()
{
    static const std::array<QString, 256> names = [] {
        std::array<QString, 256> all;
        for (int code = 0; code < 256; ++code)
            all[static_cast<std::size_t>(code)] = ComputeName(code);
        return all;
    }();
    return names;
}

constexpr Qt::KeyboardModifiers ShortcutModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

} // namespace

QKeyCombination VirtualKeyToKey(int virtualKey)
{
    return Lookup(virtualKey).value_or(QKeyCombination());
}

int KeyToVirtualKey(QKeyCombination key)
{
    const Qt::Key k = key.key();
    const bool keypad = key.keyboardModifiers().testFlag(Qt::KeypadModifier);
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return (keypad ? 0x60 : '0') + (k - Qt::Key_0);
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        return 'A' + (k - Qt::Key_A);
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
        return 0x70 + (k - Qt::Key_F1);
    // A key of the number pad that has no code of its own (arrows, Enter) is the main key.
    int plain = 0;
    for (const VirtualKey& vk : VirtualKeys) {
        if (vk.Key != k)
            continue;
        if (vk.Keypad == keypad)
            return vk.Code;
        if (!vk.Keypad && !plain)
            plain = vk.Code;
    }
    if (plain)
        return plain;
    for (const auto& [alias, code] : KeyAliases)
        if (alias == k)
            return code;
    return 0;
}

QString VirtualKeyName(int virtualKey)
{
    if (virtualKey < 0 || virtualKey > 255)
        return {};
    return Names()[static_cast<std::size_t>(virtualKey)];
}

QString ShortCutToText(const QKeySequence& shortcut)
{
    if (shortcut.isEmpty())
        return {};
    const QKeyCombination key = shortcut[0];
    const int code = KeyToVirtualKey(key);
    const QString name = code ? VirtualKeyName(code)
                              : PortableName(QKeyCombination(key.keyboardModifiers() & Qt::KeypadModifier, key.key()));
    if (name.isEmpty())
        return {};
    const Qt::KeyboardModifiers modifiers = key.keyboardModifiers();
    QString text;
    if (modifiers & Qt::ShiftModifier)
        text += QLatin1String("Shift+");
    if (modifiers & Qt::ControlModifier)
        text += QLatin1String("Ctrl+");
    if (modifiers & Qt::AltModifier)
        text += QLatin1String("Alt+");
    if (modifiers & Qt::MetaModifier)
        text += QLatin1String("Meta+");
    return text + name;
}

QKeySequence TextToShortCut(QStringView text)
{
    static const std::pair<QLatin1String, Qt::KeyboardModifier> Prefixes[] = {
        {QLatin1String("Shift+"), Qt::ShiftModifier}, {QLatin1String("Ctrl+"), Qt::ControlModifier},
        {QLatin1String("^"), Qt::ControlModifier},    {QLatin1String("Alt+"), Qt::AltModifier},
        {QLatin1String("Meta+"), Qt::MetaModifier},
    };
    Qt::KeyboardModifiers modifiers;
    QStringView rest = text;
    for (bool stripped = true; stripped;) {
        stripped = false;
        for (const auto& [prefix, modifier] : Prefixes) {
            // A prefix with nothing after it is the key itself: "Ctrl+^" is Ctrl and the "^" key.
            if (rest.size() > prefix.size() && rest.startsWith(prefix, Qt::CaseInsensitive)) {
                rest = rest.mid(prefix.size());
                modifiers |= modifier;
                stripped = true;
                break;
            }
        }
    }
    if (rest.isEmpty())
        return {};
    const auto& names = Names();
    for (int code = 8; code < 256; ++code) {
        const QString& name = names[static_cast<std::size_t>(code)];
        if (!name.isEmpty() && rest.compare(name, Qt::CaseInsensitive) == 0) {
            const QKeyCombination key = VirtualKeyToKey(code);
            return QKeySequence(QKeyCombination(modifiers | key.keyboardModifiers(), key.key()));
        }
    }
    // A key without a virtual-key code, written with Qt's name.
    const QKeySequence parsed = QKeySequence::fromString(rest.toString(), QKeySequence::PortableText);
    if (parsed.count() != 1)
        return {};
    QKeyCombination key = parsed[0];
    // Qt reads some control characters as a key 0, which no keyboard sends.
    if (key.key() == Qt::Key_unknown || key.key() == Qt::Key(0) || (key.keyboardModifiers() & ShortcutModifiers))
        return {};
    // A key that has a virtual-key code after all reads as that code's key, the one saving writes
    // and loading reads back: "Num+Enter" as Enter, "Backtab" as Tab.
    if (const int code = KeyToVirtualKey(key))
        key = VirtualKeyToKey(code);
    return QKeySequence(QKeyCombination(modifiers | key.keyboardModifiers(), key.key()));
}

QKeySequence ShortCutValueToKey(int value)
{
    if (value < 0 || value > 0xFFFF)
        return {};
    const auto key = Lookup(value & 0xFF);
    if (!key)
        return {};
    Qt::KeyboardModifiers modifiers = key->keyboardModifiers();
    if (value & shortcut::Shift)
        modifiers |= Qt::ShiftModifier;
    if (value & shortcut::Ctrl)
        modifiers |= Qt::ControlModifier;
    if (value & shortcut::Alt)
        modifiers |= Qt::AltModifier;
    return QKeySequence(QKeyCombination(modifiers, key->key()));
}

QKeySequence ParseKeyConfigValue(QStringView text)
{
    QKeySequence shortcut = TextToShortCut(text);
    if (!shortcut.isEmpty() || text.size() <= 1)
        return shortcut;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? ShortCutValueToKey(value) : QKeySequence();
}

} // namespace kavo
