#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>
#include <string>

namespace Ui {
class TkavoFind;
}

namespace kavo {

class TkavoCommon;

// What the find dialog keeps between searches, read by the main window.
struct FindState
{
    // The pattern of the last confirmed search (CP932): the words joined by "|", HTML-escaped.
    std::string FindValue;
    // Apply the pattern again after every refresh.
    bool KeepFind = true;
    // Move the found channels to the top of the list.
    bool MoveResultsUp = false;
};

// The dialog "検索": made once, hidden, and shown modally for every search. It keeps the last ten
// searches, newest first, in find.txt of the program folder (CP932, one a line), read when the
// dialog is made and written whenever it closes; neither reports a failure.
class TkavoFind : public QDialog
{
    Q_OBJECT

public:
    static constexpr int HistoryLimit = 10;

    // state and common must outlive the dialog.
    TkavoFind(FindState& state, TkavoCommon& common, QWidget* parent = nullptr);
    ~TkavoFind() override;

    static std::string HistoryFile();
    QStringList History() const;

    // Forgets the confirmed search, so that a kept search is not applied again after a refresh.
    void EndSearch() { m_state.FindValue.clear(); }

    // Turns the input into the search pattern, then closes with OK.
    void accept() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadHistory();
    void saveHistory() const;
    void remember(const QString& text);

    std::unique_ptr<Ui::TkavoFind> m_ui;
    FindState& m_state;
    TkavoCommon& m_common;
};

} // namespace kavo
