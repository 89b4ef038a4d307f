#include "ui/dialogs/ukavoConfig.h"

#include "ui/Cp932Text.h"
#include "ui/dialogs/AutoStartBox.h"
#include "ui/dialogs/RulesFilePage.h"

#include "common/ukavoCommon.h"
#include "platform/Cp932.h"
#include "settings/IniFile.h"
#include "ui/dialogs/BalloonLimitField.h"
#include "ui/dialogs/TrayOptions.h"

#include "ui_ukavoConfig.h"

#include <QApplication>
#include <QColorDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include <array>
#include <utility>

namespace kavo {
namespace {

// Stores what a control shows, but keeps the stored bytes when the control shows them unchanged:
// a value the user did not touch is written back exactly as it was read.
void Take(std::string& field, const QString& shown)
{
    if (FromCp932(field) != shown)
        field = ToCp932(shown);
}

// An index of a fixed list; a value the list does not have (nothing shown) is kept.
void TakeIndex(int& field, int shown)
{
    if (shown >= 0)
        field = shown;
}

QFont ToQFont(const FontSetting& font, QFont base)
{
    if (!font.Name.empty())
        base.setFamily(FromCp932(font.Name));
    if (font.Size > 0)
        base.setPointSize(font.Size);
    return base;
}

FontSetting FromQFont(const QFont& font, const FontSetting& previous)
{
    FontSetting result = previous;
    Take(result.Name, font.family());
    if (font.pointSize() > 0)
        result.Size = font.pointSize();
    return result;
}

ColorValue FromQColor(const QColor& color)
{
    return static_cast<ColorValue>(color.red() | color.green() << 8 | color.blue() << 16);
}

// Columns every list keeps: they carry the state icon, the order, the ID and the sort keys.
bool ColumnIsFixed(const std::string& caption)
{
    static const std::array<const char*, 5> fixed = {"Diff", "No", "Hash", "TimeStamp", "Listener"};
    for (const char* id : fixed)
        if (caption == ColumnCaptionById(id))
            return true;
    return false;
}

// Column lines carry their CP932 caption.
QListWidgetItem* ColumnLine(const std::string& caption, QListWidget* list)
{
    auto* item = new QListWidgetItem(FromCp932(caption), list);
    item->setData(Qt::UserRole, QByteArray::fromStdString(caption));
    return item;
}

std::string CaptionOf(const QListWidgetItem* item)
{
    return item->data(Qt::UserRole).toByteArray().toStdString();
}

QString OpenFileWithDialog(QWidget* parent, const QString& current, const QStringList& filters, bool executables)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (executables)
        dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    if (!current.isEmpty()) {
        const QFileInfo info(current);
        if (info.absoluteDir().exists()) {
            dialog.setDirectory(info.absoluteDir());
            dialog.selectFile(info.fileName());
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

// ---- file edit

bool FileEdit::Accepts(DropRule rule, const QString& fileName)
{
    switch (rule) {
    case DropRule::WaveFile:
        return fileName.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive);
    case DropRule::ScriptFile:
        return fileName.endsWith(QStringLiteral(".dms"), Qt::CaseSensitive);
    case DropRule::AnyFile:
        break;
    }
    return true;
}

QString FileEdit::acceptedFile(const QMimeData* mime) const
{
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty())
        return {};
    const QUrl& first = mime->urls().constFirst();
    if (!first.isLocalFile())
        return {};
    const QString path = first.toLocalFile();
    return Accepts(m_rule, path) ? path : QString();
}

bool FileEdit::handleFileDrag(QDropEvent* event, bool drop)
{
    if (!event->mimeData()->hasUrls())
        return false;
    const QString path = acceptedFile(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return true;
    }
    if (drop)
        setText(path);
    event->acceptProposedAction();
    return true;
}

void FileEdit::dragEnterEvent(QDragEnterEvent* event)
{
    if (!handleFileDrag(event, false))
        QLineEdit::dragEnterEvent(event);
}

void FileEdit::dragMoveEvent(QDragMoveEvent* event)
{
    if (!handleFileDrag(event, false))
        QLineEdit::dragMoveEvent(event);
}

void FileEdit::dropEvent(QDropEvent* event)
{
    if (!handleFileDrag(event, true))
        QLineEdit::dropEvent(event);
}

// ---- preview

LookPreview::LookPreview(QWidget* parent)
    : ChannelListView(QStringLiteral("fontListView"), new ChannelModel(nullptr, nullptr), parent)
{
    Model().setParent(this);
    Model().SetColumns({"!", "No", Sjis("チャンネル名"), Sjis("詳細"), Sjis("種別")});
    struct Sample
    {
        TkavoDiff Diff;
        const char* Name;
        const char* Genre;
        const char* Description;
        bool Links;
    };
    const std::array<Sample, 3> samples = {{
        {TkavoDiff::None, "チャンネル1", "ゲーム", "テスト配信", false},
        {TkavoDiff::New, "チャンネル2", "音楽", "リンクの色", true},
        {TkavoDiff::Up, "チャンネル3", "雑談", "訪問済み", true},
    }};
    int no = 1;
    for (const Sample& s : samples) {
        auto channel = std::make_unique<TkavoChItem>();
        channel->No = no++;
        channel->Diff = s.Diff;
        channel->ChannelName = Sjis(s.Name);
        channel->Genre = Sjis(s.Genre);
        channel->Description = Sjis(s.Description);
        channel->Type = "WMV";
        channel->Hash = NoHash;
        if (s.Links) {
            channel->ContactURL = "http://example.com/";
            channel->DirectStreamURL = "http://localhost:7144/stream/";
        }
        m_samples.Add(std::move(channel));
    }
    Model().Fill(m_samples);
    // The widths a channel list starts with: the state column shows the icon alone.
    setColumnWidth(0, 20);
    setColumnWidth(1, 40);
    setColumnWidth(4, 50);
    header()->setSectionsClickable(false);
    header()->setSortIndicatorShown(false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

LookPreview::~LookPreview() = default;

void LookPreview::ShowLook(const TkavoSetting::ColorFontOptions& look, const FontSetting& textFont)
{
    m_samples[2].Visited = look.Visit;
    ApplyListLook(look, textFont);
    resizeColumnToContents(2);
    resizeColumnToContents(3);
}

// ---- choosers

ConfigChoosers ConfigChoosers::Desktop()
{
    ConfigChoosers choosers;
    choosers.OpenFile = OpenFileWithDialog;
    choosers.ChooseFont = [](QWidget* parent, const QFont& initial) -> std::optional<QFont> {
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, initial, parent);
        return ok ? std::optional<QFont>(font) : std::nullopt;
    };
    choosers.ChooseColor = [](QWidget* parent, const QColor& initial) -> std::optional<QColor> {
        const QColor color = QColorDialog::getColor(initial, parent);
        return color.isValid() ? std::optional<QColor>(color) : std::nullopt;
    };
    choosers.ShowMessage = [](QWidget* parent, const QString& text) {
        QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
    };
    return choosers;
}

// ---- dialog

TkavoConfig::TkavoConfig(TkavoSetting& setting, TkavoCommon& common, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TkavoConfig>()), m_setting(setting), m_common(common)
{
    m_ui->setupUi(this);
    setFont(ToQFont(m_setting.AllFont, font()));
    m_autoStart = new AutoStartBox(m_ui->etcGroupBoxStart);
    m_ui->etcStartLayout->addWidget(m_autoStart, m_ui->etcStartLayout->rowCount(), 0, 1, 2);

    std::array<QIcon, TkavoDiffCount> icons;
    const std::string iconFolder = m_common.GetIconPath();
    for (std::size_t i = 0; i < icons.size(); ++i)
        icons[i] = QIcon(QString::fromStdString(iconFolder + StateIconFiles[i]));
    for (int i = 0; i < m_ui->notifyComboBoxExRank2->count(); ++i)
        m_ui->notifyComboBoxExRank2->setItemIcon(i, icons[static_cast<std::size_t>(i)]);
    m_ui->fontListView->Model().SetIcons(icons);

    using Rule = FileEdit::DropRule;
    m_ui->notifyEditSoundFile->SetDropRule(Rule::WaveFile);
    for (FileEdit* edit : {m_ui->ypEditScript, m_ui->evtEditOnCreate, m_ui->evtEditOnDestroy})
        edit->SetDropRule(Rule::ScriptFile);

    m_ui->toolVLEditor->verticalHeader()->hide();
    m_ui->toolVLEditor->horizontalHeader()->setStretchLastSection(true);
    m_ui->toolVLEditor->horizontalHeader()->resizeSection(0, 160);
    m_ui->ypListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    m_balloonLimit = new BalloonLimitField(m_ui->notifyCheckBoxFavorite->parentWidget());
    if (auto* grid = qobject_cast<QGridLayout*>(m_ui->notifyCheckBoxFavorite->parentWidget()->layout()))
        grid->addWidget(m_balloonLimit, grid->rowCount(), 0, 1, grid->columnCount());
    // Types of today's channels, before the entry for every type.
    m_ui->ypComboBoxType->insertItems(m_ui->ypComboBoxType->count() - 1,
                                      {QStringLiteral("flv"), QStringLiteral("mkv"), QStringLiteral("flv|mkv|raw")});

    for (const ColumnName& column : ColumnNames())
        ColumnLine(column.Caption, m_ui->clmListBoxDisplayCan);
    // Names for screen readers where no caption stands beside a control.
    const std::array<std::pair<QWidget*, const char*>, 7> names = {{
        {m_ui->ypListBox, "YPの一覧"},
        {m_ui->urlEditLocalChInfoAddr, "ローカルなチャンネル情報のアドレス"},
        {m_ui->notifyEditSoundFile, "再生するwavファイル"},
        {m_ui->clmListBoxDisplayCan, "表示できる列"},
        {m_ui->clmListBoxDisplayDo, "表示する列"},
        {m_ui->toolVLEditor, "ツールの一覧"},
        {m_ui->fontListView, "色とフォントの見本"},
    }};
    for (const auto& [widget, name] : names)
        widget->setAccessibleName(QString::fromUtf8(name));
    m_trayOptions = new TrayOptions(*m_ui->etcStartLayout, *m_ui->etcCheckBoxTaskTray, this);
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // The compositor places every window: the corners cannot be kept, and the balloons go to
        // the desktop's notifications.
        auto* note = new QLabel(QString::fromUtf8("Waylandではバルーンを画面の隅に置けないため、"
                                                  "デスクトップの通知に表示します"),
                                m_ui->notifySheetDetail);
        note->setObjectName(QStringLiteral("notifyLabelNoPosition"));
        note->setWordWrap(true);
        m_ui->notifyDetailLayout->addWidget(note, m_ui->notifyDetailLayout->rowCount(), 0, 1, 3);
    }

    // Rules files: export and import beside the YP list, the file kavo follows on a page of its own.
    auto* rulesButtons = new QHBoxLayout;
    auto* exportButton = new QPushButton(QString::fromUtf8("書き出し..."), m_ui->TabSheetYP);
    exportButton->setObjectName(QStringLiteral("ypButtonExport"));
    exportButton->setToolTip(QString::fromUtf8("YP とお気に入りをルールファイルへ書き出します"));
    auto* importButton = new QPushButton(QString::fromUtf8("読み込み..."), m_ui->TabSheetYP);
    importButton->setObjectName(QStringLiteral("ypButtonImport"));
    importButton->setToolTip(QString::fromUtf8("ルールファイルの YP とお気に入りを読み込みます"));
    rulesButtons->addWidget(exportButton);
    rulesButtons->addWidget(importButton);
    m_ui->ypListLayout->addLayout(rulesButtons);
    connect(exportButton, &QPushButton::clicked, this, &TkavoConfig::exportRules);
    connect(importButton, &QPushButton::clicked, this, &TkavoConfig::importRules);
    m_rulesPage = new RulesFilePage(m_ui->PageControl);
    m_rulesPage->setObjectName(QStringLiteral("TabSheetRules"));
    m_ui->PageControl->addTab(m_rulesPage, QString::fromUtf8("ルールファイル"));

    fillControls();
    connectControls();

    // The YP detail starts with what a new YP would get, disabled until a line is chosen.
    showYpDetail(newYp());
    m_ui->ypSettingPanel->setEnabled(false);
    m_ui->notifyGroupBoxPosition->setEnabled(m_ui->notifyCheckBoxPosition->isChecked());
    m_ui->etcGroupBoxTubex->setEnabled(m_ui->etcCheckBoxPlayer->isChecked());
    m_columnsChanged = false;
    m_ui->PageControl->setCurrentIndex(LastPageIndex >= 0 && LastPageIndex < m_ui->PageControl->count() ? LastPageIndex
                                                                                                        : 0);
    selectYp(LastYpIndex);
    redrawPreview();
}

TkavoConfig::~TkavoConfig() = default;

void TkavoConfig::fillControls()
{
    const TkavoSetting& s = m_setting;

    fillYpList();
    m_rulesPage->Show(s.Rules);

    m_ui->urlComboBoxProtocol->setCurrentIndex(s.URL.Protocol);
    m_ui->urlEditProxy->setText(FromCp932(s.URL.Proxy));
    m_ui->urlEditTimeout->setText(FromCp932(s.URL.Timeout));
    m_ui->urlCheckBoxLocalChInfo->setChecked(s.URL.LocalChInfo);
    m_ui->urlEditLocalChInfoAddr->setText(FromCp932(s.URL.LocalChInfoAddr));

    const auto& n = s.Notify;
    m_ui->notifyComboBoxUpdate2->setCurrentText(QString::number(n.Update2));
    m_ui->notifyComboBoxExRank2->setCurrentIndex(n.Rank2);
    m_ui->notifyCheckBoxLogRankUp->setChecked(n.LogRankUp);
    m_ui->notifyComboBoxLogRangeHour->setCurrentIndex(n.LogRangeHour);
    m_ui->notifyCheckBoxUnique->setChecked(n.Unique);
    m_ui->notifyCheckBoxRankUpOrDown2None->setChecked(n.RankUpOrDown2None);
    m_ui->notifyCheckBoxFavorite->setChecked(n.notifyCheckBoxFavorite);
    m_balloonLimit->SetValue(n.MaxBalloons);
    m_ui->notifyEditTitle->setText(FromCp932(n.Title));
    m_ui->notifyComboBoxBalloonTimer->setCurrentText(FromCp932(n.BallonTimer));
    m_ui->notifyCheckBoxCutLongString->setChecked(n.CutLongString);
    m_ui->notifyComboBoxCutLongStringRange->setCurrentText(FromCp932(n.CutLongStringRange));
    m_ui->notifyCheckBoxClickActive->setChecked(n.ClickActive);
    m_ui->notifyCheckBoxPosition->setChecked(n.Position);
    m_ui->notifyButtonPositionLeftTop->setChecked(n.PositionLeftTop);
    m_ui->notifyButtonPositionRightTop->setChecked(n.PositionRightTop);
    m_ui->notifyButtonPositionLeftBottom->setChecked(n.PositionLeftBottom);
    m_ui->notifyButtonPositionRightBottom->setChecked(n.PositionRightBottom);
    m_ui->notifyCheckBoxSound->setChecked(n.Sound);
    m_ui->notifyCheckBoxSoundCustom->setChecked(n.SoundCustom);
    m_ui->notifyEditSoundFile->setText(FromCp932(n.SoundFile));
    m_ui->notifyCheckBoxTTS->setChecked(n.TTS);
    m_ui->notifyEditTTSSpeed->setText(FromCp932(n.TTSSpeed));

    for (const std::string& caption : s.Columns)
        ColumnLine(caption, m_ui->clmListBoxDisplayDo);

    m_ui->opCheckBoxMouseDClickChOpen->setChecked(s.Operation.MouseDClickChOpen);
    m_ui->opCheckBoxKeyEnterChOpen->setChecked(s.Operation.KeyEnterChOpen);
    m_ui->opCheckBoxKeyF5Refresh->setChecked(s.Operation.KeyF5Refresh);

    m_toolFilling = true;
    for (const std::string& tool : s.Tools)
        toolAddRow(m_ui->toolVLEditor->rowCount(), FromCp932(std::string(TkavoSetting::ToolTitle(tool))),
                   FromCp932(std::string(TkavoSetting::ToolCommandOf(tool))));
    m_toolFilling = false;

    const auto& e = s.Etc;
    m_ui->etcEditPeerCast->setText(FromCp932(e.PeerCast));
    m_ui->etcCheckBoxDirectChOpen->setChecked(e.DirectChOpen);
    m_ui->etcEditBrowser->setText(FromCp932(e.Browser));
    m_ui->etcEdit2ch->setText(FromCp932(e.TwoCh));
    m_ui->etcEdit2chPtn->setText(FromCp932(e.TwoChPtn));
    m_ui->etcEditApplicationTitle->setText(FromCp932(e.ApplicationTitle));
    m_ui->etcCheckBoxAutoDownLoad->setChecked(e.AutoDownLoad);
    m_ui->etcCheckBoxMinimized->setChecked(e.Minimized);
    m_ui->etcCheckBoxTaskTray->setChecked(e.TaskTray);
    m_trayOptions->Fill(e);
    m_ui->etcCheckBoxPlayer->setChecked(e.Player);
    m_ui->etcEditPlayerFileName->setText(FromCp932(e.PlayerFileName));
    m_ui->etcComboBoxPlayerType->setCurrentText(FromCp932(e.PlayerType));

    m_look = s.ColorFont;
    m_textFont = s.TextFont;
    m_allFont = s.AllFont;
    m_ui->fontCheckBoxGridLine->setChecked(m_look.GridLine);
    m_ui->fontCheckBoxVisit->setChecked(m_look.Visit);

    m_ui->priorityKAVOProcess->setCurrentIndex(s.Priority.KAVOProcess);
    m_ui->priorityKAVOThread->setCurrentIndex(s.Priority.KAVOThread);
    m_ui->priorityPeerCastProcess->setCurrentIndex(s.Priority.PeerCastProcess);
    m_ui->priorityCommandProcess->setCurrentIndex(s.Priority.CommandProcess);

    m_ui->evtEditOnCreate->setText(FromCp932(s.Event.OnCreate));
    m_ui->evtEditOnDestroy->setText(FromCp932(s.Event.OnDestroy));
}

void TkavoConfig::connectControls()
{
    Ui::TkavoConfig& ui = *m_ui;

    connect(ui.ButtonOK, &QPushButton::clicked, this, &TkavoConfig::accept);
    connect(ui.ButtonCancel, &QPushButton::clicked, this, &TkavoConfig::reject);

    // YP page.
    connect(ui.ypListBox, &QListWidget::itemSelectionChanged, this, &TkavoConfig::ypSelectionChanged);
    connect(ui.ypListBox, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int row = m_ui->ypListBox->row(item);
        if (row >= 0 && row < m_setting.YpList.Count())
            m_setting.YpList[row].Enabled = item->checkState() == Qt::Checked;
    });
    connect(ui.ypButtonAdd, &QPushButton::clicked, this, &TkavoConfig::ypAdd);
    connect(ui.ypButtonDel, &QPushButton::clicked, this, &TkavoConfig::ypDelete);
    connect(ui.ypButtonUp, &QPushButton::clicked, this, [this] { ypMove(-1); });
    connect(ui.ypButtonDown, &QPushButton::clicked, this, [this] { ypMove(1); });
    for (QLineEdit* edit : {static_cast<QLineEdit*>(ui.ypEditTitle), static_cast<QLineEdit*>(ui.ypEditUrl),
                            static_cast<QLineEdit*>(ui.ypEditHost), static_cast<QLineEdit*>(ui.ypEditScript),
                            static_cast<QLineEdit*>(ui.ypEditPCRawChName), static_cast<QLineEdit*>(ui.ypEditPCRawChIP)})
        connect(edit, &QLineEdit::textChanged, this, &TkavoConfig::ypDetailChanged);
    for (QComboBox* combo : {ui.ypComboBoxBitrate, ui.ypComboBoxType})
        connect(combo, &QComboBox::currentTextChanged, this, &TkavoConfig::ypDetailChanged);
    for (QCheckBox* box : {ui.ypCheckBoxChatURLFix, ui.ypCheckBoxUTF2SJIS, ui.ypCheckBoxNoNotify2})
        connect(box, &QCheckBox::toggled, this, &TkavoConfig::ypDetailChanged);

    // Notification page.
    connect(ui.notifyCheckBoxPosition, &QCheckBox::toggled, ui.notifyGroupBoxPosition, &QWidget::setEnabled);
    for (QToolButton* button : {ui.notifyButtonPositionLeftTop, ui.notifyButtonPositionRightTop,
                                ui.notifyButtonPositionLeftBottom, ui.notifyButtonPositionRightBottom})
        connect(button, &QToolButton::toggled, this, [this, button](bool down) { positionToggled(button, down); });
    connect(ui.notifyButtonSoundFile, &QToolButton::clicked, this, [this] {
        browse(m_ui->notifyEditSoundFile, {QStringLiteral("wav files (*.wav *.WAV)"), QStringLiteral("all files (*)")},
               false);
    });
    connect(ui.notifyButtonSoundPlay, &QToolButton::clicked, this, [this] {
        std::string file = m_setting.Notify.SoundFile;
        Take(file, m_ui->notifyEditSoundFile->text());
        m_common.PlayWave(file);
    });

    // Column page.
    connect(ui.clmButtonAdd, &QPushButton::clicked, this, &TkavoConfig::columnAdd);
    connect(ui.clmButtonDel, &QPushButton::clicked, this, &TkavoConfig::columnDelete);
    connect(ui.clmButtonUp, &QPushButton::clicked, this, [this] { columnMove(-1); });
    connect(ui.clmButtonDown, &QPushButton::clicked, this, [this] { columnMove(1); });

    // Tool page.
    connect(ui.toolButtonAdd, &QPushButton::clicked, this, &TkavoConfig::toolAdd);
    connect(ui.toolButtonInsert, &QPushButton::clicked, this, &TkavoConfig::toolInsert);
    connect(ui.toolButtonDel, &QPushButton::clicked, this, &TkavoConfig::toolDelete);
    connect(ui.toolButtonUp, &QPushButton::clicked, this, [this] { toolMove(-1); });
    connect(ui.toolButtonDown, &QPushButton::clicked, this, [this] { toolMove(1); });
    connect(ui.toolVLEditor, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!m_toolFilling && item->column() == 0)
            toolTitleEdited(item->row());
    });

    // Other page.
    const QStringList anyFile = {QStringLiteral("all files (*)")};
    connect(ui.etcButtonPeerCast, &QToolButton::clicked, this,
            [this, anyFile] { browse(m_ui->etcEditPeerCast, anyFile, true); });
    connect(ui.etcButtonBrowser, &QToolButton::clicked, this,
            [this, anyFile] { browse(m_ui->etcEditBrowser, anyFile, true); });
    connect(ui.etcButton2ch, &QToolButton::clicked, this, [this, anyFile] { browse(m_ui->etcEdit2ch, anyFile, true); });
    connect(ui.etcCheckBoxPlayer, &QCheckBox::toggled, ui.etcGroupBoxTubex, &QWidget::setEnabled);

    // Colour and font page.
    connect(ui.fontButtonTextFont, &QPushButton::clicked, this, &TkavoConfig::chooseTextFont);
    connect(ui.fontButtonAllFont, &QPushButton::clicked, this, &TkavoConfig::chooseAllFont);
    const std::array<std::pair<QPushButton*, ColorValue*>, 5> colours = {{
        {ui.fontButtonTextColor, &m_look.TextFontColor},
        {ui.fontButtonTextLinkColor, &m_look.TextLinkColor},
        {ui.fontButtonTextSelColor, &m_look.TextLinkSelColor},
        {ui.fontButtonTextVisitColor, &m_look.TextVisitColor},
        {ui.fontButtonBackColor, &m_look.BackColor},
    }};
    for (auto [button, value] : colours)
        connect(button, &QPushButton::clicked, this, [this, value = value] { chooseColor(*value); });
    connect(ui.fontButtonDefault, &QPushButton::clicked, this, &TkavoConfig::restoreDefaultLook);
    connect(ui.fontCheckBoxGridLine, &QCheckBox::toggled, this, [this](bool on) {
        m_look.GridLine = on;
        lookControlUsed();
    });
    connect(ui.fontCheckBoxVisit, &QCheckBox::toggled, this, [this](bool on) {
        m_look.Visit = on;
        lookControlUsed();
    });
    connect(ui.PageControl, &QTabWidget::currentChanged, this, &TkavoConfig::redrawPreview);

    // Event page.
    const QStringList scripts = {QStringLiteral("DMonkey Script files (*.dms)")};
    connect(ui.evtButtonOnCreate, &QToolButton::clicked, this,
            [this, scripts] { browse(m_ui->evtEditOnCreate, scripts, false); });
    connect(ui.evtButtonOnDestroy, &QToolButton::clicked, this,
            [this, scripts] { browse(m_ui->evtEditOnDestroy, scripts, false); });
}

void TkavoConfig::SetTrayAvailable(bool available)
{
    m_trayOptions->SetTrayAvailable(available);
}

void TkavoConfig::accept()
{
    copyToSetting();
    if (const auto problem = m_autoStart->Apply())
        message(*problem);
    QDialog::accept();
}

void TkavoConfig::done(int result)
{
    LastPageIndex = m_ui->PageControl->currentIndex();
    LastYpIndex = selectedYp();
    QDialog::done(result);
}

void TkavoConfig::copyToSetting()
{
    Ui::TkavoConfig& ui = *m_ui;
    TkavoSetting& s = m_setting;
    m_rulesPage->CopyTo(s.Rules);

    TakeIndex(s.URL.Protocol, ui.urlComboBoxProtocol->currentIndex());
    Take(s.URL.Proxy, ui.urlEditProxy->text());
    Take(s.URL.Timeout, ui.urlEditTimeout->text());
    s.URL.LocalChInfo = ui.urlCheckBoxLocalChInfo->isChecked();
    Take(s.URL.LocalChInfoAddr, ui.urlEditLocalChInfoAddr->text());

    auto& n = s.Notify;
    s.SetUpdate2(ParseIniInteger(ToCp932(ui.notifyComboBoxUpdate2->currentText().trimmed())).value_or(10));
    TakeIndex(n.Rank2, ui.notifyComboBoxExRank2->currentIndex());
    n.LogRankUp = ui.notifyCheckBoxLogRankUp->isChecked();
    TakeIndex(n.LogRangeHour, ui.notifyComboBoxLogRangeHour->currentIndex());
    n.Unique = ui.notifyCheckBoxUnique->isChecked();
    n.RankUpOrDown2None = ui.notifyCheckBoxRankUpOrDown2None->isChecked();
    n.notifyCheckBoxFavorite = ui.notifyCheckBoxFavorite->isChecked();
    n.MaxBalloons = m_balloonLimit->Value();
    Take(n.Title, ui.notifyEditTitle->text());
    Take(n.BallonTimer, ui.notifyComboBoxBalloonTimer->currentText());
    n.CutLongString = ui.notifyCheckBoxCutLongString->isChecked();
    Take(n.CutLongStringRange, ui.notifyComboBoxCutLongStringRange->currentText());
    n.ClickActive = ui.notifyCheckBoxClickActive->isChecked();
    n.Position = ui.notifyCheckBoxPosition->isChecked();
    n.PositionLeftTop = ui.notifyButtonPositionLeftTop->isChecked();
    n.PositionRightTop = ui.notifyButtonPositionRightTop->isChecked();
    n.PositionLeftBottom = ui.notifyButtonPositionLeftBottom->isChecked();
    n.PositionRightBottom = ui.notifyButtonPositionRightBottom->isChecked();
    n.Sound = ui.notifyCheckBoxSound->isChecked();
    n.SoundCustom = ui.notifyCheckBoxSoundCustom->isChecked();
    Take(n.SoundFile, ui.notifyEditSoundFile->text());
    n.TTS = ui.notifyCheckBoxTTS->isChecked();
    Take(n.TTSSpeed, ui.notifyEditTTSSpeed->text());

    auto& e = s.Etc;
    Take(e.PeerCast, ui.etcEditPeerCast->text());
    e.DirectChOpen = ui.etcCheckBoxDirectChOpen->isChecked();
    Take(e.Browser, ui.etcEditBrowser->text());
    Take(e.TwoCh, ui.etcEdit2ch->text());
    Take(e.TwoChPtn, ui.etcEdit2chPtn->text());
    Take(e.ApplicationTitle, ui.etcEditApplicationTitle->text());
    e.AutoDownLoad = ui.etcCheckBoxAutoDownLoad->isChecked();
    e.Minimized = ui.etcCheckBoxMinimized->isChecked();
    e.TaskTray = ui.etcCheckBoxTaskTray->isChecked();
    m_trayOptions->Take(e);
    e.Player = ui.etcCheckBoxPlayer->isChecked();
    Take(e.PlayerFileName, ui.etcEditPlayerFileName->text());
    Take(e.PlayerType, ui.etcComboBoxPlayerType->currentText());

    s.Columns.clear();
    for (int i = 0; i < ui.clmListBoxDisplayDo->count(); ++i)
        s.Columns.push_back(CaptionOf(ui.clmListBoxDisplayDo->item(i)));

    s.Operation.MouseDClickChOpen = ui.opCheckBoxMouseDClickChOpen->isChecked();
    s.Operation.KeyEnterChOpen = ui.opCheckBoxKeyEnterChOpen->isChecked();
    s.Operation.KeyF5Refresh = ui.opCheckBoxKeyF5Refresh->isChecked();

    std::vector<std::string> tools;
    QTableWidget* grid = ui.toolVLEditor;
    for (int row = 0; row < grid->rowCount(); ++row) {
        const auto text = [grid, row](int column) {
            const QTableWidgetItem* item = grid->item(row, column);
            return item ? item->text() : QString();
        };
        const QString line = text(0) + QLatin1Char('=') + text(1);
        std::string tool = row < static_cast<int>(s.Tools.size()) ? s.Tools[static_cast<std::size_t>(row)] : "";
        Take(tool, line);
        tools.push_back(std::move(tool));
    }
    s.Tools = std::move(tools);

    s.TextFont = m_textFont;
    s.AllFont = m_allFont;
    s.ColorFont = m_look;
    s.ColorFont.GridLine = ui.fontCheckBoxGridLine->isChecked();
    s.ColorFont.Visit = ui.fontCheckBoxVisit->isChecked();

    TakeIndex(s.Priority.KAVOProcess, ui.priorityKAVOProcess->currentIndex());
    TakeIndex(s.Priority.KAVOThread, ui.priorityKAVOThread->currentIndex());
    TakeIndex(s.Priority.PeerCastProcess, ui.priorityPeerCastProcess->currentIndex());
    TakeIndex(s.Priority.CommandProcess, ui.priorityCommandProcess->currentIndex());

    Take(s.Event.OnCreate, ui.evtEditOnCreate->text());
    Take(s.Event.OnDestroy, ui.evtEditOnDestroy->text());
}

// ---- YP page

int TkavoConfig::selectedYp() const
{
    const QList<QListWidgetItem*> selected = m_ui->ypListBox->selectedItems();
    return selected.isEmpty() ? -1 : m_ui->ypListBox->row(selected.constFirst());
}

void TkavoConfig::fillYpList()
{
    const QSignalBlocker blocker(m_ui->ypListBox);
    m_ui->ypListBox->clear();
    for (const TkavoYpItem& yp : m_setting.YpList) {
        auto* item = new QListWidgetItem(FromCp932(yp.Title), m_ui->ypListBox);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(yp.Enabled ? Qt::Checked : Qt::Unchecked);
    }
}

void TkavoConfig::exportRules()
{
    ExportRulesFile(this, RulesFiles, RulesOf(m_setting));
}

void TkavoConfig::importRules()
{
    const std::optional<ChosenImport> chosen = ChooseRulesImport(this, RulesFiles);
    if (!chosen)
        return;
    const ImportSummary summary = kavo::ImportRules(chosen->Reading, chosen->Mode, m_setting);
    fillYpList();
    selectYp(-1);
    RulesFiles.Tell(this, ImportSummaryMessage(summary) + QString::fromUtf8("\n\nOK で閉じると保存されます。"), false);
}

void TkavoConfig::selectYp(int row)
{
    QListWidget* list = m_ui->ypListBox;
    {
        // Whether the list signals depends on its current line: the detail is shown once, below.
        const QSignalBlocker blocker(list);
        if (row >= 0 && row < list->count())
            list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
        else
            list->clearSelection();
    }
    ypSelectionChanged();
}

void TkavoConfig::ypSelectionChanged()
{
    const int row = selectedYp();
    if (row < 0 || row >= m_setting.YpList.Count()) {
        // The detail keeps what it showed.
        m_ui->ypSettingPanel->setEnabled(false);
        return;
    }
    TkavoYpItem copy;
    copy.Assign(m_setting.YpList[row]);
    showYpDetail(copy);
    m_ui->ypSettingPanel->setEnabled(true);
}

void TkavoConfig::showYpDetail(const TkavoYpItem& yp)
{
    m_ypDetailLive = false;
    m_ui->ypEditTitle->setText(FromCp932(yp.Title));
    m_ui->ypEditUrl->setText(FromCp932(yp.Url));
    m_ui->ypEditHost->setText(FromCp932(yp.Host));
    m_ui->ypComboBoxBitrate->setCurrentText(FromCp932(yp.Bitrate));
    m_ui->ypComboBoxType->setCurrentText(FromCp932(yp.ChType));
    m_ui->ypEditScript->setText(FromCp932(yp.Script));
    m_ui->ypCheckBoxUTF2SJIS->setChecked(yp.UTF2SJIS);
    m_ui->ypCheckBoxChatURLFix->setChecked(yp.ChatURLFix);
    m_ui->ypEditPCRawChName->setText(FromCp932(yp.PCRawChName2));
    m_ui->ypEditPCRawChIP->setText(FromCp932(yp.PCRawChIP));
    m_ui->ypCheckBoxNoNotify2->setChecked(yp.NoNotify2);
    m_ypDetailLive = true;
}

void TkavoConfig::ypDetailChanged()
{
    const int row = selectedYp();
    if (!m_ypDetailLive || row < 0 || row >= m_setting.YpList.Count())
        return;
    TkavoYpItem& yp = m_setting.YpList[row];
    Take(yp.Title, m_ui->ypEditTitle->text());
    Take(yp.Url, m_ui->ypEditUrl->text());
    Take(yp.Host, m_ui->ypEditHost->text());
    Take(yp.Bitrate, m_ui->ypComboBoxBitrate->currentText());
    Take(yp.ChType, m_ui->ypComboBoxType->currentText());
    Take(yp.Script, m_ui->ypEditScript->text());
    yp.UTF2SJIS = m_ui->ypCheckBoxUTF2SJIS->isChecked();
    yp.ChatURLFix = m_ui->ypCheckBoxChatURLFix->isChecked();
    Take(yp.PCRawChName2, m_ui->ypEditPCRawChName->text());
    Take(yp.PCRawChIP, m_ui->ypEditPCRawChIP->text());
    yp.NoNotify2 = m_ui->ypCheckBoxNoNotify2->isChecked();
    m_ui->ypListBox->item(row)->setText(FromCp932(yp.Title));
}

TkavoYpItem TkavoConfig::newYp()
{
    TkavoYpItem yp;
    // Players on Linux play every stream type: a type filter would hide channels without a word.
    yp.ChType = ".+";
    return yp;
}

void TkavoConfig::ypAdd()
{
    auto yp = std::make_unique<TkavoYpItem>(newYp());
    yp->Title = "noname";
    const TkavoYpItem& added = m_setting.YpList.Add(std::move(yp));
    auto* item = new QListWidgetItem(FromCp932(added.Title), m_ui->ypListBox);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(added.Enabled ? Qt::Checked : Qt::Unchecked);
    selectYp(m_ui->ypListBox->count() - 1);
}

void TkavoConfig::ypDelete()
{
    const int row = selectedYp();
    if (row < 0 || row >= m_setting.YpList.Count())
        return;
    m_setting.YpList.Delete(row);
    {
        // The list would select a neighbour on its own; the line that takes the place is chosen below.
        const QSignalBlocker blocker(m_ui->ypListBox);
        delete m_ui->ypListBox->takeItem(row);
    }
    selectYp(row);
}

void TkavoConfig::ypMove(int step)
{
    const int row = selectedYp();
    const int target = row + step;
    TkavoYpList& list = m_setting.YpList;
    if (row < 0 || target < 0 || target >= list.Count() || row >= list.Count())
        return;
    auto items = list.Release();
    std::swap(items[static_cast<std::size_t>(row)], items[static_cast<std::size_t>(target)]);
    for (auto& item : items)
        list.Add(std::move(item));

    QListWidget* box = m_ui->ypListBox;
    const QSignalBlocker blocker(box);
    QListWidgetItem* item = box->takeItem(row);
    box->insertItem(target, item);
    box->setCurrentRow(target, QItemSelectionModel::ClearAndSelect);
}

// ---- column page

void TkavoConfig::columnAdd()
{
    const QListWidgetItem* chosen = m_ui->clmListBoxDisplayCan->currentItem();
    if (!chosen || !chosen->isSelected())
        return;
    const std::string caption = CaptionOf(chosen);
    QListWidget* shown = m_ui->clmListBoxDisplayDo;
    for (int i = 0; i < shown->count(); ++i) {
        if (CaptionOf(shown->item(i)) == caption) {
            message(QStringLiteral("すでに選択されています"));
            return;
        }
    }
    ColumnLine(caption, shown);
    m_columnsChanged = true;
}

void TkavoConfig::columnDelete()
{
    QListWidget* shown = m_ui->clmListBoxDisplayDo;
    QListWidgetItem* item = shown->currentItem();
    if (!item || !item->isSelected())
        return;
    if (ColumnIsFixed(CaptionOf(item))) {
        message(QStringLiteral("その列は削除できません"));
        return;
    }
    delete shown->takeItem(shown->row(item));
    m_columnsChanged = true;
}

void TkavoConfig::columnMove(int step)
{
    QListWidget* shown = m_ui->clmListBoxDisplayDo;
    QListWidgetItem* item = shown->currentItem();
    if (!item || !item->isSelected())
        return;
    const int row = shown->row(item);
    const int target = row + step;
    if (target < 0 || target >= shown->count())
        return;
    shown->takeItem(row);
    shown->insertItem(target, item);
    shown->setCurrentRow(target, QItemSelectionModel::ClearAndSelect);
    m_columnsChanged = true;
}

// ---- tool page

void TkavoConfig::toolAddRow(int row, const QString& title, const QString& command)
{
    QTableWidget* grid = m_ui->toolVLEditor;
    const bool filling = std::exchange(m_toolFilling, true);
    grid->insertRow(row);
    auto* key = new QTableWidgetItem(title);
    key->setData(Qt::UserRole, title); // the accepted title, restored when an edit is refused
    grid->setItem(row, 0, key);
    grid->setItem(row, 1, new QTableWidgetItem(command));
    m_toolFilling = filling;
}

void TkavoConfig::toolAdd()
{
    QTableWidget* grid = m_ui->toolVLEditor;
    toolAddRow(grid->rowCount(), {}, {});
    grid->setCurrentCell(grid->rowCount() - 1, 0);
}

void TkavoConfig::toolInsert()
{
    QTableWidget* grid = m_ui->toolVLEditor;
    const int row = std::max(grid->currentRow(), 0);
    toolAddRow(row, {}, {});
    grid->setCurrentCell(row, 0);
}

void TkavoConfig::toolDelete()
{
    QTableWidget* grid = m_ui->toolVLEditor;
    const int row = grid->currentRow();
    if (row < 0 || row >= grid->rowCount())
        return;
    grid->removeRow(row);
}

void TkavoConfig::toolMove(int step)
{
    QTableWidget* grid = m_ui->toolVLEditor;
    const int row = grid->currentRow();
    const int target = row + step;
    if (row < 0 || target < 0 || target >= grid->rowCount())
        return;
    const int column = grid->currentColumn();
    const bool filling = std::exchange(m_toolFilling, true);
    for (int c = 0; c < grid->columnCount(); ++c) {
        QTableWidgetItem* a = grid->takeItem(row, c);
        QTableWidgetItem* b = grid->takeItem(target, c);
        grid->setItem(row, c, b);
        grid->setItem(target, c, a);
    }
    m_toolFilling = filling;
    grid->setCurrentCell(target, std::max(column, 0));
}

void TkavoConfig::toolTitleEdited(int row)
{
    QTableWidget* grid = m_ui->toolVLEditor;
    QTableWidgetItem* key = grid->item(row, 0);
    if (!key)
        return;
    const QString title = key->text();
    QString refusal;
    // A tool line is "title=command": a title with "=" would split in the wrong place.
    if (title.contains(QLatin1Char('=')))
        refusal = QStringLiteral("メニュータイトルに「=」は使えません");
    for (int i = 0; refusal.isEmpty() && !title.isEmpty() && i < grid->rowCount(); ++i) {
        const QTableWidgetItem* other = grid->item(i, 0);
        if (i != row && other && other->text() == title)
            refusal = QStringLiteral("メニュータイトル「%1」はすでにあります").arg(title);
    }
    const bool filling = std::exchange(m_toolFilling, true);
    if (refusal.isEmpty())
        key->setData(Qt::UserRole, title);
    else
        key->setText(key->data(Qt::UserRole).toString());
    m_toolFilling = filling;
    if (!refusal.isEmpty())
        message(refusal);
}

// ---- colour and font page

void TkavoConfig::chooseTextFont()
{
    const std::optional<QFont> chosen = Choosers.ChooseFont(this, ToQFont(m_textFont, m_ui->fontListView->font()));
    if (!chosen)
        return;
    m_textFont = FromQFont(*chosen, m_textFont);
    lookControlUsed();
}

void TkavoConfig::chooseAllFont()
{
    const std::optional<QFont> chosen = Choosers.ChooseFont(this, font());
    if (!chosen)
        return;
    setFont(*chosen);
    m_allFont = FromQFont(*chosen, m_allFont);
    lookControlUsed();
}

void TkavoConfig::chooseColor(ColorValue& value)
{
    const std::optional<QColor> chosen = Choosers.ChooseColor(this, ToQColor(value, QApplication::palette()));
    if (!chosen)
        return;
    value = FromQColor(*chosen);
    lookControlUsed();
}

void TkavoConfig::restoreDefaultLook()
{
    m_textFont = TkavoSetting::SystemFont();
    m_look.TextFontColor = clWindowText;
    m_look.TextLinkColor = clBlue;
    m_look.BackColor = clWindow;
    m_look.TextLinkSelColor = clHighlightText;
    m_ui->fontCheckBoxGridLine->setChecked(false);
    lookControlUsed();
}

void TkavoConfig::lookControlUsed()
{
    m_lookChanged = true;
    redrawPreview();
}

void TkavoConfig::redrawPreview()
{
    m_ui->fontListView->ShowLook(m_look, m_textFont);
}

// ---- shared

void TkavoConfig::positionToggled(QObject* button, bool down)
{
    if (!down)
        return;
    for (QToolButton* other : {m_ui->notifyButtonPositionLeftTop, m_ui->notifyButtonPositionRightTop,
                               m_ui->notifyButtonPositionLeftBottom, m_ui->notifyButtonPositionRightBottom})
        if (other != button)
            other->setChecked(false);
}

void TkavoConfig::browse(QLineEdit* edit, const QStringList& filters, bool executables)
{
    const QString chosen = Choosers.OpenFile(this, edit->text(), filters, executables);
    if (!chosen.isEmpty())
        edit->setText(chosen);
}

void TkavoConfig::message(const QString& text)
{
    Choosers.ShowMessage(this, text);
}

} // namespace kavo
