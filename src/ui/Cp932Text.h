#pragma once

#include "platform/Cp932.h"

#include <QString>

#include <string>

namespace kavo {

// Where the window meets the engine's texts: the engine holds CP932 bytes, Qt holds UTF-16.
inline QString FromCp932(const std::string& text)
{
    return QString::fromStdString(Cp932ToUtf8(text));
}

inline std::string ToCp932(const QString& text)
{
    return Utf8ToCp932(text.toStdString());
}

} // namespace kavo
