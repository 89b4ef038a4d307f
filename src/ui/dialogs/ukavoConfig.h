#pragma once

#include "settings/TkavoSetting.h"
#include "ui/dialogs/RulesTransfer.h"
#include "ui/lists/ChannelListView.h"

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QLineEdit>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TkavoConfig;
}

namespace kavo {

class BalloonLimitField;
class RulesFilePage;
class TkavoCommon;
class AutoStartBox;
class TrayOptions;

// A file-name edit that takes the first file dropped onto it when the rule lets it in; a refused
// file leaves the text as it is.
class FileEdit : public QLineEdit
{
    Q_OBJECT

public:
    enum class DropRule {
        AnyFile,
        WaveFile,   // ".wav" in any letter case
        ScriptFile, // ".dms" exactly
    };
    using QLineEdit::QLineEdit;
    void SetDropRule(DropRule rule) { m_rule = rule; }
    DropRule Rule() const { return m_rule; }
    static bool Accepts(DropRule rule, const QString& fileName);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The local file of the first dropped URL when it passes the rule, else "".
    QString acceptedFile(const QMimeData* mime) const;
    // Drags that carry URLs are ours: a file the rule lets in is accepted (and taken on the drop),
    // any other refused. False for other drags (text), which the line edit handles.
    bool handleFileDrag(QDropEvent* event, bool drop);
    DropRule m_rule = DropRule::AnyFile;
};

// The settings dialog's sample list: three channels drawn like the channel lists, the second and
// third with links, the third one visited.
class LookPreview : public ChannelListView
{
    Q_OBJECT

public:
    explicit LookPreview(QWidget* parent = nullptr);
    ~LookPreview() override;
    // Redraws the samples with a look that need not be the settings' one.
    void ShowLook(const TkavoSetting::ColorFontOptions& look, const FontSetting& textFont);

private:
    TkavoChList m_samples;
};

// What the dialog asks of the desktop; tests put their own answers in.
struct ConfigChoosers
{
    // The chosen file, or "" when the user cancels. executables: list only programs.
    std::function<QString(QWidget* parent, const QString& current, const QStringList& filters, bool executables)>
        OpenFile;
    std::function<std::optional<QFont>(QWidget* parent, const QFont& initial)> ChooseFont;
    std::function<std::optional<QColor>(QWidget* parent, const QColor& initial)> ChooseColor;
    // A plain message box.
    std::function<void(QWidget* parent, const QString& text)> ShowMessage;

    // The desktop's dialogs.
    static ConfigChoosers Desktop();
};

// The modal dialog "設定". It edits a working copy of the settings that the caller made: the YP
// list in place while it is open, every other value when OK is pressed. It never saves, reloads
// or touches the program's settings object; after OK the caller saves the copy and applies it.
class TkavoConfig : public QDialog
{
    Q_OBJECT

public:
    TkavoConfig(TkavoSetting& setting, TkavoCommon& common, QWidget* parent = nullptr);
    ~TkavoConfig() override;

    // The visible-column list was changed (add, delete, move).
    bool ColumnsChanged() const { return m_columnsChanged; }
    // A font, colour, grid-line or visited-colour control was used.
    bool LookChanged() const { return m_lookChanged; }

    // The page and the YP line of the last dialog closed during this run (-1: no YP selected).
    static inline int LastPageIndex = 0;
    static inline int LastYpIndex = 0;

    ConfigChoosers Choosers = ConfigChoosers::Desktop();
    RulesChoosers RulesFiles = RulesChoosers::Desktop();
    RulesFilePage& RulesPage() const { return *m_rulesPage; }
    // Without a tray on the desktop the tray's options are disabled, with the reason shown.
    void SetTrayAvailable(bool available);

    // Copies every value of the controls into the settings copy, then closes with OK.
    void accept() override;
    void done(int result) override;

private:
    void fillControls();
    void connectControls();
    void copyToSetting();

    // YP page.
    int selectedYp() const;
    void selectYp(int row);
    void ypSelectionChanged();
    void showYpDetail(const TkavoYpItem& yp);
    // What 追加 creates.
    static TkavoYpItem newYp();
    void ypDetailChanged();
    void ypAdd();
    void ypDelete();
    void ypMove(int step);
    void fillYpList();
    // Rules files: the favorites and YPs of this copy of the settings.
    void exportRules();
    void importRules();

    // Column page.
    void columnAdd();
    void columnDelete();
    void columnMove(int step);

    // Tool page.
    void toolAddRow(int row, const QString& title, const QString& command);
    void toolAdd();
    void toolInsert();
    void toolDelete();
    void toolMove(int step);
    void toolTitleEdited(int row);

    // Colour and font page.
    void chooseTextFont();
    void chooseAllFont();
    void chooseColor(ColorValue& value);
    void restoreDefaultLook();
    void lookControlUsed();
    void redrawPreview();

    void positionToggled(QObject* button, bool down);
    void browse(QLineEdit* edit, const QStringList& filters, bool executables);
    void message(const QString& text);

    std::unique_ptr<Ui::TkavoConfig> m_ui;
    TkavoSetting& m_setting;
    TkavoCommon& m_common;
    AutoStartBox* m_autoStart = nullptr; // below the start-up options; not part of the settings file
    RulesFilePage* m_rulesPage = nullptr;
    TrayOptions* m_trayOptions = nullptr;

    // Off while the YP detail is being filled, so that its change signals do not write back.
    bool m_ypDetailLive = true;
    BalloonLimitField* m_balloonLimit = nullptr;
    bool m_toolFilling = false;
    bool m_columnsChanged = false;
    bool m_lookChanged = false;

    // The look the preview shows and OK keeps.
    TkavoSetting::ColorFontOptions m_look;
    FontSetting m_textFont;
    FontSetting m_allFont;
};

} // namespace kavo
