#pragma once

#include <QObject>
#include <QRect>
#include <QTimer>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QWidget;

namespace kavo {

// The placement store "dfm.ini" in the program folder, section "kavoMain": the window's size and
// position (not its state), the checked states of a few actions and the start-up delay. Checked
// states are written the moment they change, the placement shortly after the window stops moving
// and when it closes. Booleans are "TRUE" and "FALSE"; "YES", "Y", "NO" and "N" are read too.
class PlacementStore : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* FileName = "dfm.ini";
    static constexpr const char* Section = "kavoMain";

    // Everything handed in must outlive the store; the actions are stored by their object names.
    PlacementStore(std::string path, QWidget& window, std::vector<QAction*> actions, QTimer& timerInitialize);

    // Takes what the file holds: the actions' states, the timer's interval and the window's
    // geometry, which is moved onto the primary screen when it lies off every screen. Missing
    // values leave what the window has. From then on changes are written.
    void Load();
    // Writes everything now. A failure to write is ignored.
    void Save();

    // "TRUE"/"YES"/"Y" and "FALSE"/"NO"/"N" in any case; anything else is unset.
    static std::optional<bool> ParseBool(std::string_view text);
    // The rectangle itself when it overlaps a screen's work area, else the same size on the primary
    // screen's work area (at its top left, cut to fit).
    static QRect OntoScreen(const QRect& geometry);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void writeAction(QAction* action);

    std::string m_path;
    QWidget& m_window;
    std::vector<QAction*> m_actions;
    QTimer& m_timerInitialize;
    QTimer m_geometryWrite;
    bool m_loaded = false;
};

} // namespace kavo
