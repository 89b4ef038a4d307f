#include "ui/dialogs/ukavoFavorite.h"

#include "ui/Cp932Text.h"

#include "common/ukavoCommon.h"
#include "core/FavoritePreview.h"
#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "ui/lists/ChannelModel.h"

#include "ui_ukavoFavorite.h"

#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

namespace kavo {
namespace {

constexpr ColorValue Rgb(int r, int g, int b)
{
    return static_cast<ColorValue>(r | (g << 8) | (b << 16));
}

// The item data of the "Custom..." entry: no colour value has the top byte 0x80.
constexpr ColorValue CustomEntry = static_cast<ColorValue>(0x80000000u);

QString CustomName(ColorValue color)
{
    return QStringLiteral("$%1").arg(static_cast<std::uint32_t>(color), 8, 16, QLatin1Char('0')).toUpper();
}

} // namespace

const std::vector<std::pair<const char*, ColorValue>>& TkavoFavorite::NamedColors()
{
    static const std::vector<std::pair<const char*, ColorValue>> colors = {
        {"Black", Rgb(0, 0, 0)},
        {"Maroon", Rgb(128, 0, 0)},
        {"Green", Rgb(0, 128, 0)},
        {"Olive green", Rgb(128, 128, 0)},
        {"Navy blue", Rgb(0, 0, 128)},
        {"Purple", Rgb(128, 0, 128)},
        {"Teal", Rgb(0, 128, 128)},
        {"Gray", Rgb(128, 128, 128)},
        {"Silver", Rgb(192, 192, 192)},
        {"Red", Rgb(255, 0, 0)},
        {"Lime", Rgb(0, 255, 0)},
        {"Yellow", Rgb(255, 255, 0)},
        {"Blue", Rgb(0, 0, 255)},
        {"Fuchsia", Rgb(255, 0, 255)},
        {"Aqua", Rgb(0, 255, 255)},
        {"White", Rgb(255, 255, 255)},
        {"Money green", Rgb(192, 220, 192)},
        {"Sky blue", Rgb(166, 202, 240)},
        {"Cream", Rgb(255, 251, 240)},
        {"Medium gray", Rgb(160, 160, 164)},
        {"Scrollbar", SystemColor(0)},
        {"Desktop background", SystemColor(1)},
        {"Active window title bar", SystemColor(2)},
        {"Inactive window title bar", SystemColor(3)},
        {"Menu background", SystemColor(4)},
        {"Window background", SystemColor(5)},
        {"Window frame", SystemColor(6)},
        {"Menu text", SystemColor(7)},
        {"Window text", SystemColor(8)},
        {"Active window title bar text", SystemColor(9)},
        {"Active window border", SystemColor(10)},
        {"Inactive window border", SystemColor(11)},
        {"Application workspace", SystemColor(12)},
        {"Selection background", SystemColor(13)},
        {"Selection text", SystemColor(14)},
        {"Button face", SystemColor(15)},
        {"Button shadow", SystemColor(16)},
        {"Dimmed text", SystemColor(17)},
        {"Button text", SystemColor(18)},
        {"Inactive window title bar text", SystemColor(19)},
        {"Button highLite", SystemColor(20)},
        {"Dark shadow 3D elements", SystemColor(21)},
        {"HighLite 3D elements", SystemColor(22)},
        {"Tooltip text", SystemColor(23)},
        {"Tooltip background", SystemColor(24)},
        {"Gradient Active Caption", SystemColor(27)},
        {"Gradient Inactive Caption", SystemColor(28)},
        {"Hot Lite", SystemColor(26)},
        {"Menu Bar", SystemColor(30)},
        {"Menu HighLite", SystemColor(29)},
    };
    return colors;
}

TkavoFavorite::TkavoFavorite(TkavoFavoriteList& favorites, TkavoCommon& common, const TkavoChList& onAir,
                             const QFont& font, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TkavoFavorite>()), m_favorites(favorites), m_common(common),
      m_onAir(onAir)
{
    m_ui->setupUi(this);
    setFont(font);
    m_ui->favEditSoundFile->SetDropRule(FileEdit::DropRule::WaveFile);
    FillColors(m_ui->favColorCombo);
    FillColors(m_ui->favColorComboText);

    FillList();
    ShowDetail(FavoriteFields{});
    m_ui->favSettingPanel->setEnabled(false);
    m_ui->JvPageControl->setCurrentIndex(0);

    connect(m_ui->favListBox, &QListWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(m_ui->favListBox, &QListWidget::itemChanged, this, [this](QListWidgetItem* line) {
        const int row = m_ui->favListBox->row(line);
        if (row >= 0 && row < m_favorites.Count())
            m_favorites[row].Enabled = line->checkState() == Qt::Checked;
    });
    connect(m_ui->favButtonAdd, &QPushButton::clicked, this, [this] { Add(); });
    connect(m_ui->favButtonDel, &QPushButton::clicked, this, [this] { Delete(); });
    connect(m_ui->favButtonUp, &QPushButton::clicked, this, [this] { Move(-1); });
    connect(m_ui->favButtonDown, &QPushButton::clicked, this, [this] { Move(1); });
    // Rules files, at the start of the row of OK and Cancel.
    auto* exportButton = new QPushButton(QString::fromUtf8("書き出し..."), this);
    exportButton->setObjectName(QStringLiteral("favButtonExport"));
    auto* exportMenu = new QMenu(exportButton);
    exportMenu->addAction(QString::fromUtf8("すべてのお気に入り(&A)..."), this, [this] { ExportToFile(false); });
    exportMenu->addAction(QString::fromUtf8("選んだお気に入り(&S)..."), this, [this] { ExportToFile(true); });
    exportButton->setMenu(exportMenu);
    auto* importButton = new QPushButton(QString::fromUtf8("読み込み..."), this);
    importButton->setObjectName(QStringLiteral("favButtonImport"));
    importButton->setAutoDefault(false);
    connect(importButton, &QPushButton::clicked, this, [this] { ImportFromFile(); });
    m_ui->favButtonLayout->insertWidget(0, exportButton);
    m_ui->favButtonLayout->insertWidget(1, importButton);

    connect(m_ui->favButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->favButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->favButtonSoundFile, &QToolButton::clicked, this, [this] { BrowseSoundFile(); });
    connect(m_ui->favButtonPlayTest, &QPushButton::clicked, this,
            [this] { m_common.PlayWave(ToCp932(m_ui->favEditSoundFile->text())); });

    for (QLineEdit* edit : {static_cast<QLineEdit*>(m_ui->favEditTitle), static_cast<QLineEdit*>(m_ui->favEditWord),
                            static_cast<QLineEdit*>(m_ui->favEditSoundFile)})
        connect(edit, &QLineEdit::textChanged, this, [this] { DetailChanged(); });
    for (QCheckBox* box : {m_ui->favCheckBoxColor, m_ui->favCheckBoxColorText, m_ui->favCheckBoxChannelName,
                           m_ui->favCheckBoxDescription, m_ui->favCheckBoxComment, m_ui->favCheckBoxContactURL,
                           m_ui->favCheckBoxStreamURL, m_ui->favCheckBoxYpAddr, m_ui->favCheckBoxType,
                           m_ui->favCheckBoxListeners, m_ui->favCheckBoxBitrate, m_ui->favCheckBoxRegExp,
                           m_ui->favCheckBoxYpLite, m_ui->favCheckBoxListDisable, m_ui->favCheckBoxNotNotify})
        connect(box, &QCheckBox::toggled, this, [this] { DetailChanged(); });
    for (QComboBox* combo : {m_ui->favColorCombo, m_ui->favColorComboText})
        connect(combo, &QComboBox::activated, this, [this, combo](int index) { ColorActivated(combo, index); });

    if (LastFavoriteIndex >= 0 && LastFavoriteIndex < m_favorites.Count())
        SelectLine(LastFavoriteIndex);
}

TkavoFavorite::~TkavoFavorite() = default;

void TkavoFavorite::done(int result)
{
    LastFavoriteIndex = SelectedLine();
    QDialog::done(result);
}

int TkavoFavorite::SelectedLine() const
{
    const QList<QListWidgetItem*> selected = m_ui->favListBox->selectedItems();
    return selected.isEmpty() ? -1 : m_ui->favListBox->row(selected.first());
}

void TkavoFavorite::SelectLine(int line)
{
    if (line < 0 || line >= m_ui->favListBox->count()) {
        m_ui->favListBox->clearSelection();
        SelectionChanged(); // a removal that leaves no selection may not signal one
        return;
    }
    m_ui->favListBox->setCurrentRow(line, QItemSelectionModel::ClearAndSelect);
    SelectionChanged();
}

void TkavoFavorite::SelectionChanged()
{
    const int line = SelectedLine();
    if (line < 0 || line >= m_favorites.Count()) {
        if (m_detailEnabled)
            m_ui->JvPageControl->setCurrentIndex(0);
        m_detailEnabled = false;
        m_ui->favSettingPanel->setEnabled(false);
        return;
    }
    ShowDetail(m_favorites[line]);
    m_detailEnabled = true;
    m_ui->favSettingPanel->setEnabled(true);
}

void TkavoFavorite::ShowDetail(const FavoriteFields& favorite)
{
    m_filling = true;
    m_ui->favEditTitle->setText(FromCp932(favorite.Title));
    m_ui->favEditWord->setText(FromCp932(favorite.Word));
    m_ui->favEditSoundFile->setText(FromCp932(favorite.FileName));
    m_ui->favCheckBoxColor->setChecked(favorite.ColorEnabled);
    ShowColor(m_ui->favColorCombo, favorite.Color);
    m_ui->favCheckBoxColorText->setChecked(favorite.ColorTextEnabled);
    ShowColor(m_ui->favColorComboText, favorite.ColorText);
    m_ui->favCheckBoxChannelName->setChecked(favorite.Channel);
    m_ui->favCheckBoxDescription->setChecked(favorite.Description);
    m_ui->favCheckBoxComment->setChecked(favorite.Comment);
    m_ui->favCheckBoxContactURL->setChecked(favorite.ContactURL);
    m_ui->favCheckBoxStreamURL->setChecked(favorite.StreamURL);
    m_ui->favCheckBoxYpAddr->setChecked(favorite.YpAddr);
    m_ui->favCheckBoxType->setChecked(favorite.ChType);
    m_ui->favCheckBoxListeners->setChecked(favorite.Listeners);
    m_ui->favCheckBoxBitrate->setChecked(favorite.Bitrate);
    m_ui->favCheckBoxRegExp->setChecked(favorite.RegExp);
    m_ui->favCheckBoxYpLite->setChecked(favorite.YpLike);
    m_ui->favCheckBoxListDisable->setChecked(favorite.ListDisable);
    m_ui->favCheckBoxNotNotify->setChecked(favorite.NotNotify);
    m_filling = false;
    UpdatePreview();
}

void TkavoFavorite::DetailChanged()
{
    const int line = SelectedLine();
    if (m_filling || line < 0 || line >= m_favorites.Count())
        return;
    TkavoFavoriteItem& favorite = m_favorites[line];
    favorite.Title = ToCp932(m_ui->favEditTitle->text());
    favorite.Word = ToCp932(m_ui->favEditWord->text());
    favorite.Channel = m_ui->favCheckBoxChannelName->isChecked();
    favorite.Description = m_ui->favCheckBoxDescription->isChecked();
    favorite.StreamURL = m_ui->favCheckBoxStreamURL->isChecked();
    favorite.YpAddr = m_ui->favCheckBoxYpAddr->isChecked();
    favorite.Comment = m_ui->favCheckBoxComment->isChecked();
    favorite.ContactURL = m_ui->favCheckBoxContactURL->isChecked();
    favorite.ChType = m_ui->favCheckBoxType->isChecked();
    favorite.Listeners = m_ui->favCheckBoxListeners->isChecked();
    favorite.Bitrate = m_ui->favCheckBoxBitrate->isChecked();
    favorite.RegExp = m_ui->favCheckBoxRegExp->isChecked();
    favorite.FileName = ToCp932(m_ui->favEditSoundFile->text());
    favorite.ColorEnabled = m_ui->favCheckBoxColor->isChecked();
    favorite.Color = ColorOf(m_ui->favColorCombo);
    favorite.ColorTextEnabled = m_ui->favCheckBoxColorText->isChecked();
    favorite.ColorText = ColorOf(m_ui->favColorComboText);
    favorite.ListDisable = m_ui->favCheckBoxListDisable->isChecked();
    favorite.YpLike = m_ui->favCheckBoxYpLite->isChecked();
    favorite.NotNotify = m_ui->favCheckBoxNotNotify->isChecked();
    m_ui->favListBox->item(line)->setText(FromCp932(favorite.Title));
    UpdatePreview();
}

void TkavoFavorite::UpdatePreview()
{
    const int line = SelectedLine();
    if (line < 0 || line >= m_favorites.Count() || m_favorites[line].Word.empty()) {
        m_ui->favLabelPreview->clear();
        return;
    }
    const FavoritePreview preview = PreviewFavorite(m_favorites[line], m_onAir, m_common.RegExp, PreviewNames);
    if (!preview.Error.empty()) {
        m_ui->favLabelPreview->setText(QString::fromUtf8("正規表現の誤り: ") + QString::fromStdString(preview.Error));
        return;
    }
    QStringList names;
    for (const std::string& name : preview.Names)
        names.append(FromCp932(HtmlDecode(name)));
    QString text = QString::fromUtf8("放送中 %1 件が該当").arg(preview.Count);
    if (!names.isEmpty())
        text += QStringLiteral(": ") + names.join(QString::fromUtf8("、"));
    if (preview.Count > static_cast<int>(names.size()))
        text += QString::fromUtf8(" …");
    m_ui->favLabelPreview->setText(text);
}

void TkavoFavorite::Add()
{
    auto favorite = std::make_unique<TkavoFavoriteItem>();
    favorite->Title = "noname";
    favorite->Channel = true;
    favorite->RegExp = true;
    auto* line = new QListWidgetItem(FromCp932(favorite->Title));
    line->setFlags(line->flags() | Qt::ItemIsUserCheckable);
    line->setCheckState(Qt::Unchecked);
    m_favorites.Add(std::move(favorite));
    {
        const QSignalBlocker blocker(m_ui->favListBox);
        m_ui->favListBox->addItem(line);
    }
    SelectLine(m_favorites.Count() - 1);
}

void TkavoFavorite::Delete()
{
    const int line = SelectedLine();
    if (line < 0 || line >= m_favorites.Count())
        return;
    m_favorites.Delete(line);
    {
        const QSignalBlocker blocker(m_ui->favListBox);
        delete m_ui->favListBox->takeItem(line);
    }
    SelectLine(line);
}

void TkavoFavorite::Move(int step)
{
    const int line = SelectedLine();
    const int other = line + step;
    if (line < 0 || other < 0 || other >= m_favorites.Count())
        return;
    std::swap(static_cast<FavoriteFields&>(m_favorites[line]), static_cast<FavoriteFields&>(m_favorites[other]));
    {
        const QSignalBlocker blocker(m_ui->favListBox);
        for (const int row : {line, other}) {
            QListWidgetItem* item = m_ui->favListBox->item(row);
            item->setText(FromCp932(m_favorites[row].Title));
            item->setCheckState(m_favorites[row].Enabled ? Qt::Checked : Qt::Unchecked);
        }
    }
    SelectLine(other);
}

void TkavoFavorite::BrowseSoundFile()
{
    const QString file =
        Choosers.OpenFile(this, m_ui->favEditSoundFile->text(), {QStringLiteral("WAVE files (*.wav)")}, false);
    if (!file.isEmpty())
        m_ui->favEditSoundFile->setText(file);
}

void TkavoFavorite::FillList()
{
    const QSignalBlocker blocker(m_ui->favListBox);
    m_ui->favListBox->clear();
    for (const TkavoFavoriteItem& favorite : m_favorites) {
        auto* line = new QListWidgetItem(FromCp932(favorite.Title), m_ui->favListBox);
        line->setFlags(line->flags() | Qt::ItemIsUserCheckable);
        line->setCheckState(favorite.Enabled ? Qt::Checked : Qt::Unchecked);
    }
}

void TkavoFavorite::ExportToFile(bool chooseLines)
{
    std::vector<int> lines;
    if (chooseLines) {
        QStringList titles;
        for (const TkavoFavoriteItem& favorite : m_favorites)
            titles.append(FromCp932(favorite.Title));
        std::vector<int> checked;
        if (const int line = SelectedLine(); line >= 0)
            checked.push_back(line);
        const std::optional<std::vector<int>> chosen = RulesFiles.ChooseLines(this, titles, checked);
        if (!chosen || chosen->empty())
            return;
        lines = *chosen;
    }
    ExportRulesFile(this, RulesFiles, FavoriteRules(m_favorites, lines));
}

void TkavoFavorite::ImportFromFile()
{
    const std::optional<ChosenImport> chosen = ChooseRulesImport(this, RulesFiles);
    if (!chosen)
        return;
    ImportSummary summary;
    summary.Mode = chosen->Mode;
    summary.Notes = chosen->Reading.Notes;
    if (chosen->Reading.Rules.Favorites)
        ImportFavorites(*chosen->Reading.Rules.Favorites, chosen->Mode, m_favorites, summary);
    const int line = SelectedLine();
    FillList();
    SelectLine(line < m_favorites.Count() ? line : -1);
    QString text = ImportSummaryMessage(summary);
    // This dialog edits the favorites alone.
    if (chosen->Reading.Rules.Yps && !chosen->Reading.Rules.Yps->empty())
        text += QString::fromUtf8("\n\nファイルの YP %1 件は読み込んでいません（設定の「YP」ページから読み込めます）。")
                    .arg(chosen->Reading.Rules.Yps->size());
    text += QString::fromUtf8("\n\nOK で閉じると保存されます。");
    RulesFiles.Tell(this, text, false);
}

void TkavoFavorite::FillColors(QComboBox* combo)
{
    combo->addItem(QStringLiteral("Custom..."), CustomEntry);
    for (const auto& [name, color] : NamedColors())
        combo->addItem(QString::fromLatin1(name), color);
    // Swatches in this desktop's colours, the system colours included.
    const QPalette palette = QApplication::palette();
    for (int i = 1; i < combo->count(); ++i) {
        QPixmap swatch(16, 12);
        swatch.fill(ToQColor(combo->itemData(i).toInt(), palette));
        QPainter(&swatch).drawRect(0, 0, swatch.width() - 1, swatch.height() - 1);
        combo->setItemIcon(i, QIcon(swatch));
    }
}

void TkavoFavorite::ShowColor(QComboBox* combo, ColorValue color)
{
    int index = combo->findData(color);
    if (index < 0) {
        combo->addItem(CustomName(color), color);
        index = combo->count() - 1;
        QPixmap swatch(16, 12);
        swatch.fill(ToQColor(color, QApplication::palette()));
        combo->setItemIcon(index, QIcon(swatch));
    }
    combo->setCurrentIndex(index);
}

ColorValue TkavoFavorite::ColorOf(const QComboBox* combo)
{
    const QVariant data = combo->currentData();
    return data.isValid() && data.toInt() != CustomEntry ? data.toInt() : clWindow;
}

void TkavoFavorite::ColorActivated(QComboBox* combo, int index)
{
    if (combo->itemData(index).toInt() == CustomEntry) {
        // The colour the favorite has, or the one it had before this pick.
        const int line = SelectedLine();
        ColorValue previous = clWindow;
        if (line >= 0 && line < m_favorites.Count())
            previous = combo == m_ui->favColorCombo ? m_favorites[line].Color : m_favorites[line].ColorText;
        const std::optional<QColor> chosen = Choosers.ChooseColor(this, ToQColor(previous, QApplication::palette()));
        m_filling = true;
        ShowColor(combo, chosen ? Rgb(chosen->red(), chosen->green(), chosen->blue()) : previous);
        m_filling = false;
    }
    DetailChanged();
}

} // namespace kavo
