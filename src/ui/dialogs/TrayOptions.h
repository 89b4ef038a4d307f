#pragma once

#include "settings/TkavoSetting.h"

#include <QObject>

class QCheckBox;
class QGridLayout;
class QLabel;

namespace kavo {

// The tray's options in the settings dialog's start-up group: "閉じるボタンでトレイへ" below the
// dialog's own "最小化時にタスクトレイに格納する". Without a tray on the desktop both are disabled
// and a line says why, so no option can hide the window where nothing brings it back.
class TrayOptions : public QObject
{
    Q_OBJECT

public:
    // Adds its rows to the bottom of layout; taskTray is the dialog's own check box.
    TrayOptions(QGridLayout& layout, QCheckBox& taskTray, QObject* parent = nullptr);

    void SetTrayAvailable(bool available);
    bool TrayAvailable() const { return m_available; }
    void Fill(const TkavoSetting::EtcOptions& etc);
    // A disabled option keeps its stored value for a desktop that has a tray.
    void Take(TkavoSetting::EtcOptions& etc) const;

    QCheckBox* CloseToTray() const { return m_closeToTray; }
    QLabel* Reason() const { return m_reason; }

private:
    QCheckBox& m_taskTray;
    QCheckBox* m_closeToTray;
    QLabel* m_reason;
    bool m_available = true;
};

} // namespace kavo
