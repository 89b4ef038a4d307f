#pragma once

#include <QCheckBox>

#include <optional>

namespace kavo {

// The check box "ログイン時に起動": shows whether kavo starts at login, and on Apply writes or
// removes the autostart entry when the user changed it. Where a tray exists kavo then starts
// minimised into it.
class AutoStartBox : public QCheckBox
{
    Q_OBJECT

public:
    explicit AutoStartBox(QWidget* parent = nullptr);
    // The reason when the entry could not be written or removed.
    std::optional<QString> Apply();

private:
    bool m_shown = false;
};

} // namespace kavo
