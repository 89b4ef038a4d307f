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

class RulesFilePage;
class TkavoCommon;
class AutoStartBox;

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

    // Copies every value of the controls into the settings copy, then closes with OK.
    void accept() override;
    void done(int result) override;

private:
    void FillControls();
    void ConnectControls();
    void CopyToSetting();

    // YP page.
    int SelectedYp() const;
    void SelectYp(int row);
    void YpSelectionChanged();
    void ShowYpDetail(const TkavoYpItem& yp);
    void YpDetailChanged();
    void YpAdd();
    void YpDelete();
    void YpMove(int step);
    void FillYpList();
    // Rules files: the favorites and YPs of this copy of the settings.
    void ExportRules();
    void ImportRules();

    // Column page.
    void ColumnAdd();
    void ColumnDelete();
    void ColumnMove(int step);

    // Tool page.
    void ToolAddRow(int row, const QString& title, const QString& command);
    void ToolAdd();
    void ToolInsert();
    void ToolDelete();
    void ToolMove(int step);
    void ToolTitleEdited(int row);

    // Colour and font page.
    void ChooseTextFont();
    void ChooseAllFont();
    void ChooseColor(ColorValue& value);
    void RestoreDefaultLook();
    void LookControlUsed();
    void RedrawPreview();

    void PositionToggled(QObject* button, bool down);
    void Browse(QLineEdit* edit, const QStringList& filters, bool executables);
    void Message(const QString& text);

    std::unique_ptr<Ui::TkavoConfig> m_ui;
    TkavoSetting& m_setting;
    TkavoCommon& m_common;
    AutoStartBox* m_autoStart = nullptr; // below the start-up options; not part of the settings file
    RulesFilePage* m_rulesPage = nullptr;

    // Off while the YP detail is being filled, so that its change signals do not write back.
    bool m_ypDetailLive = true;
    bool m_toolFilling = false;
    bool m_columnsChanged = false;
    bool m_lookChanged = false;

    // The look the preview shows and OK keeps.
    TkavoSetting::ColorFontOptions m_look;
    FontSetting m_textFont;
    FontSetting m_allFont;
};

} // namespace kavo
