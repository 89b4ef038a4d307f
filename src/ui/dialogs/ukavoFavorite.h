#pragma once

#include "core/TkavoChItem.h"
#include "core/TkavoFavoriteItem.h"
#include "ui/dialogs/RulesTransfer.h"
#include "ui/dialogs/ukavoConfig.h"

#include <QDialog>

#include <memory>
#include <utility>
#include <vector>

class QComboBox;

namespace Ui {
class TkavoFavorite;
}

namespace kavo {

class TkavoCommon;

// The modal dialog "お気に入り". It edits, in place, a favorite list that the caller copied from the
// settings, and never saves: after OK the caller commits its copy. The channels on air serve only
// to show what the search word being written finds.
class TkavoFavorite : public QDialog
{
    Q_OBJECT

public:
    // Everything handed in must outlive the dialog; onAir is read again at every change, so it may
    // be refilled meanwhile.
    TkavoFavorite(TkavoFavoriteList& favorites, TkavoCommon& common, const TkavoChList& onAir, const QFont& font,
                  QWidget* parent = nullptr);
    ~TkavoFavorite() override;

    // The line selected when the dialog last closed during this run.
    static inline int LastFavoriteIndex = 0;
    // Names shown in the first lines of the preview.
    static constexpr std::size_t PreviewNames = 5;

    // The colour drop-downs' named colours in their order (the system colours as system values).
    static const std::vector<std::pair<const char*, ColorValue>>& NamedColors();

    ConfigChoosers Choosers = ConfigChoosers::Desktop();
    RulesChoosers RulesFiles = RulesChoosers::Desktop();

    void done(int result) override;

private:
    int SelectedLine() const;
    void SelectLine(int line);
    void SelectionChanged();
    void ShowDetail(const FavoriteFields& favorite);
    void DetailChanged();
    void UpdatePreview();
    void Add();
    void Delete();
    void Move(int step);
    void BrowseSoundFile();
    // Rules files: every favorite or the lines the user checks; the file's favorites.
    void ExportToFile(bool chooseLines);
    void ImportFromFile();
    void FillList();
    void FillColors(QComboBox* combo);
    void ShowColor(QComboBox* combo, ColorValue color);
    static ColorValue ColorOf(const QComboBox* combo);
    void ColorActivated(QComboBox* combo, int index);

    std::unique_ptr<Ui::TkavoFavorite> m_ui;
    TkavoFavoriteList& m_favorites;
    TkavoCommon& m_common;
    const TkavoChList& m_onAir;
    // Set while the detail controls are being filled, so that their change signals do not write back.
    bool m_filling = false;
    bool m_detailEnabled = false;
};

} // namespace kavo
