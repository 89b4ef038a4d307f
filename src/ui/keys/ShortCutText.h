#pragma once

#include <QKeyCombination>
#include <QKeySequence>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace kavo {

// Shortcuts as KeyConfig.ini keeps them, compatible with the files of the Windows program: a text
// such as "Shift+Ctrl+F", or a Windows shortcut value, the virtual-key code in the low byte plus
// the modifier bits below (16454 is Ctrl+F).
namespace shortcut {
inline constexpr int Shift = 0x2000;
inline constexpr int Ctrl = 0x4000;
inline constexpr int Alt = 0x8000;
} // namespace shortcut

// The Qt key of a Windows virtual-key code, with Qt::KeypadModifier for the keys of the number
// pad; a default QKeyCombination (Qt::Key_unknown) for a code kavo does not map.
QKeyCombination VirtualKeyToKey(int virtualKey);
// The virtual-key code of a Qt key, its Shift, Ctrl, Alt and Meta modifiers ignored; 0 when the
// key has none.
int KeyToVirtualKey(QKeyCombination key);

// The name of a virtual-key code in the text form: the fixed names ("BkSp", "Enter", "PgUp",
// "Del", ...), the digit or letter itself, "F1" to "F24", else Qt's portable name of the key; ""
// for a code without a key.
QString VirtualKeyName(int virtualKey);

// "Shift+", "Ctrl+", "Alt+" (and "Meta+", which Windows shortcuts do not have) in this order, then
// the key's name: VirtualKeyName for keys with a virtual-key code, Qt's portable name for the
// others. Only the first key of a sequence counts; "" for an empty one.
QString ShortCutToText(const QKeySequence& shortcut);

// The text form back: the prefixes are stripped in any order and case ("^" for Ctrl as well), the
// rest is compared with the key names without regard to case, the first virtual-key code from 8
// upwards winning. Empty for no key or an unknown name.
QKeySequence TextToShortCut(QStringView text);

// A Windows shortcut value; empty when its virtual-key code maps to no key.
QKeySequence ShortCutValueToKey(int value);

// A value of the file as loading reads it: the text form, else, for a text of more than one
// character, a decimal shortcut value. Empty for anything else.
QKeySequence ParseKeyConfigValue(QStringView text);

} // namespace kavo
