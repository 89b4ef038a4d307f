#include "common/ukavoCommon.h"
#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "settings/TkavoSetting.h"
#include "support/NotifyTestSupport.h"
#include "ui/app/InputBox.h"
#include "ui/dialogs/ukavoConfig.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QUrl>

#include <filesystem>
#include <memory>

using namespace kavo;
using namespace kavo::test;

namespace {

const std::string WindowsFixture = std::string(KAVO_TEST_DATA) + "/settings/windows.ini";

template <class T>
T* Child(const QWidget& dialog, const char* name)
{
    T* child = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qFatal("the dialog has no control %s", name);
    return child;
}

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

std::string YpText(const TkavoYpItem& yp)
{
    return (yp.Enabled ? "+" : "-") + yp.Title + "|" + yp.Url + "|" + yp.Host + "|" + yp.Bitrate + "|" + yp.ChType +
           "|" + yp.Script + "|" + (yp.UTF2SJIS ? "u" : "") + (yp.ChatURLFix ? "c" : "") + "|" + yp.PCRawChName2 + "|" +
           yp.PCRawChIP + "|" + (yp.NoNotify2 ? "n" : "");
}

std::vector<std::string> YpFieldsOf(const TkavoSetting& setting)
{
    std::vector<std::string> fields;
    for (const TkavoYpItem& yp : setting.YpList)
        fields.push_back(YpText(yp));
    return fields;
}

QStringList Lines(const std::string& text)
{
    return QString::fromStdString(Cp932ToUtf8(text)).split(QStringLiteral("\r\n"));
}

// A program folder holding a settings file and the icons, the settings read from it, and the
// common services over it with a player that records what it plays.
class Harness
{
public:
    TempFolder Folder;
    std::shared_ptr<QStringList> Played = std::make_shared<QStringList>();
    std::unique_ptr<TkavoCommon> Common;
    TkavoSetting Copy;
    QStringList Messages;

    explicit Harness(const std::string& ini)
    {
        namespace fs = std::filesystem;
        WriteFile(Folder.File("kavo.ini"), ini);
        fs::copy(fs::path(KAVO_TEST_DATA) / ".." / ".." / "data" / "icons", Folder.File("icons"));
        SetProgramFolder(Folder.Path());
        Common = std::make_unique<TkavoCommon>(Copy, CommonPaths{Folder.Path(), "kavo", Folder.File("kavo.ini")},
                                               std::make_unique<RecordingWavePlayer>(Played));
        Copy.Load();
    }
    ~Harness() { SetProgramFolder({}); }

    std::unique_ptr<TkavoConfig> Open()
    {
        auto dialog = std::make_unique<TkavoConfig>(Copy, *Common);
        dialog->Choosers.ShowMessage = [this](QWidget*, const QString& text) { Messages.append(text); };
        dialog->Choosers.OpenFile = [](QWidget*, const QString&, const QStringList&, bool) { return QString(); };
        dialog->Choosers.ChooseFont = [](QWidget*, const QFont&) { return std::optional<QFont>(); };
        dialog->Choosers.ChooseColor = [](QWidget*, const QColor&) { return std::optional<QColor>(); };
        return dialog;
    }
};

void Click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

void SelectLine(QListWidget* list, const QString& text)
{
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    if (found.isEmpty())
        qFatal("no line %s", qPrintable(text));
    list->setCurrentItem(found.first(), QItemSelectionModel::ClearAndSelect);
}

QStringList Texts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

// The text colour a cell of the preview is painted with.
QColor PreviewTextColor(ChannelListView* preview, int row, int column)
{
    auto* delegate = qobject_cast<ChannelDelegate*>(preview->itemDelegate());
    QStyleOptionViewItem option;
    option.widget = preview;
    option.palette = preview->palette();
    return delegate->CellOption(option, preview->model()->index(row, column)).palette.color(QPalette::Text);
}

} // namespace

class ConfigDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        TkavoConfig::LastPageIndex = 0;
        TkavoConfig::LastYpIndex = 0;
    }

    // One value changed on every page, OK, and the saved file differs from the one read in
    // exactly those keys.
    void roundTripChangesOnlyTheEditedKeys()
    {
        const std::string original = ReadFile(WindowsFixture);
        Harness h(original);
        auto dialog = h.Open();
        TkavoConfig& d = *dialog;
        d.Choosers.ChooseColor = [](QWidget*, const QColor&) { return std::optional<QColor>(QColor(0, 128, 0)); };
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QVERIFY(!d.ColumnsChanged());
        QVERIFY(!d.LookChanged());

        Child<QListWidget>(d, "ypListBox")->setCurrentRow(1, QItemSelectionModel::ClearAndSelect);
        Child<QLineEdit>(d, "ypEditHost")->setText(QStringLiteral("192.168.0.9:7145"));
        Child<QLineEdit>(d, "urlEditProxy")->setText(QStringLiteral("proxy2.example.jp:3128"));
        Child<QComboBox>(d, "notifyComboBoxExRank2")->setCurrentIndex(1);
        SelectLine(Child<QListWidget>(d, "clmListBoxDisplayCan"), U("ハッシュ"));
        Click(Child<QPushButton>(d, "clmButtonAdd"));
        Click(Child<QCheckBox>(d, "opCheckBoxKeyF5Refresh"));
        Child<QTableWidget>(d, "toolVLEditor")->item(1, 1)->setText(QStringLiteral("xdg-open http://localhost:7144/"));
        Child<QLineEdit>(d, "etcEditApplicationTitle")->setText(U("kavo 新"));
        Click(Child<QPushButton>(d, "fontButtonTextLinkColor"));
        Child<QComboBox>(d, "priorityCommandProcess")->setCurrentIndex(3);
        Child<QLineEdit>(d, "evtEditOnDestroy")->setText(QStringLiteral("/opt/kavo/end.dms"));
        Click(Child<QPushButton>(d, "ButtonOK"));

        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(d.ColumnsChanged());
        QVERIFY(d.LookChanged());
        QVERIFY(h.Messages.isEmpty());
        h.Copy.Save();

        std::string expected = original;
        const std::vector<std::pair<const char*, const char*>> changes = {
            {"\r\nHost1=192.168.0.2:7145\r\n", "\r\nHost1=192.168.0.9:7145\r\n"},
            {"\r\nProxy=proxy.example.jp:8080\r\n", "\r\nProxy=proxy2.example.jp:3128\r\n"},
            {"\r\nRank2=3\r\n", "\r\nRank2=1\r\n"},
            {"\r\nColumn4=BroadcastTime\r\n", "\r\nColumn4=BroadcastTime\r\nColumn5=Hash\r\n"},
            {"\r\nKeyF5Refresh=1\r\n", "\r\nKeyF5Refresh=0\r\n"},
            {"\r\ncmd1=explorer.exe http://localhost:7144/\r\n", "\r\ncmd1=xdg-open http://localhost:7144/\r\n"},
            {"\r\nApplicationTitle=kavo 改\r\n", "\r\nApplicationTitle=kavo 新\r\n"},
            {"\r\nTextLinkColor=16711680\r\n", "\r\nTextLinkColor=32768\r\n"},
            {"\r\nCommandProcess=0\r\n", "\r\nCommandProcess=3\r\n"},
            {"\r\nOnDestroy=\r\n", "\r\nOnDestroy=/opt/kavo/end.dms\r\n"},
        };
        for (const auto& [from, to] : changes) {
            const std::size_t at = expected.find(Sjis(from));
            QVERIFY2(at != std::string::npos, from);
            expected.replace(at, Sjis(from).size(), Sjis(to));
        }
        QCOMPARE(Lines(ReadFile(h.Copy.SettingsFileName())), Lines(expected));
        QCOMPARE(ReadFile(h.Copy.SettingsFileName()), expected);
    }

    // Cancel copies nothing of the controls; the YP list was edited in the copy all along.
    void cancelCopiesNothingButTheYpEdits()
    {
        Harness h(ReadFile(WindowsFixture));
        auto dialog = h.Open();
        Child<QLineEdit>(*dialog, "notifyEditTitle")->setText(QStringLiteral("changed"));
        Click(Child<QPushButton>(*dialog, "ypButtonAdd"));
        Click(Child<QPushButton>(*dialog, "ButtonCancel"));
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(h.Copy.Notify.Title, Sjis("ぺかすて通知"));
        QCOMPARE(h.Copy.YpList.Count(), 3);
    }

    void updateIntervalIsReadAsAnInteger_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("number") << "25" << 25;
        QTest::newRow("blanks around") << " 20 " << 20;
        QTest::newRow("not a number") << "abc" << 10;
        QTest::newRow("empty") << "" << 10;
        QTest::newRow("zero") << "0" << 10;
        QTest::newRow("negative") << "-5" << 10;
        QTest::newRow("trailing text") << "15min" << 10;
    }
    void updateIntervalIsReadAsAnInteger()
    {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        Harness h("");
        auto dialog = h.Open();
        Child<QComboBox>(*dialog, "notifyComboBoxUpdate2")->setCurrentText(typed);
        dialog->accept();
        QCOMPARE(h.Copy.Notify.Update2, stored);
    }

    // The other numbers are stored as typed; Save and the readers judge them.
    void typedNumbersAreKeptAsTyped()
    {
        Harness h("");
        auto dialog = h.Open();
        Child<QLineEdit>(*dialog, "urlEditTimeout")->setText(QStringLiteral("abc"));
        Child<QComboBox>(*dialog, "notifyComboBoxBalloonTimer")->setCurrentText(QStringLiteral("7s"));
        Child<QComboBox>(*dialog, "notifyComboBoxCutLongStringRange")->setCurrentText(QStringLiteral("x"));
        Child<QLineEdit>(*dialog, "notifyEditTTSSpeed")->setText(QStringLiteral(" 99 "));
        dialog->accept();
        QCOMPARE(h.Copy.URL.Timeout, std::string("abc"));
        QCOMPARE(h.Copy.Notify.BallonTimer, std::string("7s"));
        QCOMPARE(h.Copy.Notify.CutLongStringRange, std::string("x"));
        QCOMPARE(h.Copy.Notify.TTSSpeed, std::string(" 99 "));
    }

    void positionButtonsReleaseEachOther()
    {
        Harness h("[Notify]\r\nPosition=1\r\nPositionRightBottom=1\r\n");
        auto dialog = h.Open();
        TkavoConfig& d = *dialog;
        const std::array<QToolButton*, 4> buttons = {
            Child<QToolButton>(d, "notifyButtonPositionLeftTop"),
            Child<QToolButton>(d, "notifyButtonPositionRightTop"),
            Child<QToolButton>(d, "notifyButtonPositionLeftBottom"),
            Child<QToolButton>(d, "notifyButtonPositionRightBottom"),
        };
        const auto down = [&buttons] {
            QString state;
            for (const QToolButton* b : buttons)
                state += b->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
            return state;
        };
        QCOMPARE(down(), QStringLiteral("0001"));
        Click(buttons[0]);
        QCOMPARE(down(), QStringLiteral("1000"));
        Click(buttons[2]);
        QCOMPARE(down(), QStringLiteral("0010"));
        Click(buttons[2]); // all four may be up
        QCOMPARE(down(), QStringLiteral("0000"));
        Click(buttons[1]);
        d.accept();
        const auto& n = h.Copy.Notify;
        QCOMPARE((std::array{n.PositionLeftTop, n.PositionRightTop, n.PositionLeftBottom, n.PositionRightBottom}),
                 (std::array{false, true, false, false}));
    }

    // "ログイン時に起動" is the desktop's autostart entry: OK writes it for this program and removes
    // it again; an entry the desktop switched off shows as off; a folder that cannot be made is said.
    void startAtLoginIsTheAutostartEntry()
    {
        TempFolder config;
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
        const QString entry = QString::fromStdString(config.File("autostart/")) +
                              (QGuiApplication::desktopFileName().isEmpty() ? QStringLiteral("kavo")
                                                                            : QGuiApplication::desktopFileName()) +
                              QStringLiteral(".desktop");
        Harness h("");
        const auto setBox = [&h](bool on) {
            auto dialog = h.Open();
            auto* box = Child<QCheckBox>(*dialog, "etcCheckBoxAutoStart");
            const bool shown = box->isChecked();
            box->setChecked(on);
            dialog->accept();
            return shown;
        };

        QVERIFY(!setBox(true));
        const QString text = QString::fromStdString(ReadFile(entry.toStdString()));
        QVERIFY2(text.contains(QStringLiteral("\nExec=\"%1\"").arg(QCoreApplication::applicationFilePath())),
                 qPrintable(text));
        QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\nType=Application\n")));
        QVERIFY(setBox(false));
        QVERIFY(!QFileInfo::exists(entry));

        WriteFile(entry.toStdString(), "[Desktop Entry]\nType=Application\nExec=kavo\nHidden=true\n");
        QVERIFY(!setBox(false)); // unchanged: the desktop's file stays as it is
        QVERIFY(QFileInfo::exists(entry));

        WriteFile(config.File("file"), "");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.File("file")));
        setBox(true);
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(h.Messages.size(), 1);
        QVERIFY2(h.Messages[0].contains(QStringLiteral("autostart")), qPrintable(h.Messages[0]));
    }

    void checkBoxesEnableTheirGroups()
    {
        Harness h("[Notify]\r\nPosition=0\r\n[Etc]\r\nPlayer=1\r\n");
        auto dialog = h.Open();
        auto* position = Child<QCheckBox>(*dialog, "notifyCheckBoxPosition");
        auto* corners = Child<QWidget>(*dialog, "notifyGroupBoxPosition");
        auto* player = Child<QCheckBox>(*dialog, "etcCheckBoxPlayer");
        auto* tubex = Child<QGroupBox>(*dialog, "etcGroupBoxTubex");
        QVERIFY(!corners->isEnabled());
        QVERIFY(tubex->isEnabled());
        Click(position);
        Click(player);
        QVERIFY(corners->isEnabled());
        QVERIFY(!tubex->isEnabled());
    }

    void toolGridKeepsTitlesUnique()
    {
        Harness h("[Tool]\r\nkey0=a\r\ncmd0=x\r\nkey1=b\r\ncmd1=y\r\n");
        auto dialog = h.Open();
        auto* grid = Child<QTableWidget>(*dialog, "toolVLEditor");

        grid->item(1, 0)->setText(QStringLiteral("a"));
        QCOMPARE(grid->item(1, 0)->text(), QStringLiteral("b"));
        QCOMPARE(h.Messages.size(), 1);
        QVERIFY2(h.Messages.last().contains(QStringLiteral("a")), qPrintable(h.Messages.last()));
        grid->item(1, 0)->setText(QStringLiteral("c=d"));
        QCOMPARE(grid->item(1, 0)->text(), QStringLiteral("b"));
        QCOMPARE(h.Messages.size(), 2);
        grid->item(1, 0)->setText(QStringLiteral("c"));
        grid->item(0, 0)->setText(QStringLiteral("b")); // free again
        QCOMPARE(h.Messages.size(), 2);

        // New rows are empty; empty titles are rows still being filled in and do not clash.
        grid->setCurrentCell(1, 0);
        Click(Child<QPushButton>(*dialog, "toolButtonInsert"));
        QCOMPARE(grid->currentRow(), 1);
        Click(Child<QPushButton>(*dialog, "toolButtonAdd"));
        QCOMPARE(grid->currentRow(), 3);
        QCOMPARE(h.Messages.size(), 2);
        grid->item(3, 0)->setText(QStringLiteral("z"));
        grid->item(3, 1)->setText(QStringLiteral("cmd z"));
        Click(Child<QPushButton>(*dialog, "toolButtonUp"));
        QCOMPARE(grid->currentRow(), 2);
        grid->setCurrentCell(0, 0);
        Click(Child<QPushButton>(*dialog, "toolButtonUp")); // the first row stays
        QCOMPARE(grid->currentRow(), 0);
        grid->setCurrentCell(1, 0);
        Click(Child<QPushButton>(*dialog, "toolButtonDel"));
        grid->setCurrentCell(2, 0);
        Click(Child<QPushButton>(*dialog, "toolButtonDown")); // the last row stays
        QCOMPARE(grid->currentRow(), 2);
        dialog->accept();
        QCOMPARE(h.Copy.Tools, (std::vector<std::string>{"b=x", "z=cmd z", "c=y"}));
    }

    void columnEditing()
    {
        Harness h("[ColumnVisible]\r\nColumn0=Diff\r\nColumn1=ChannelName\r\nColumn2=Hash\r\n");
        auto dialog = h.Open();
        TkavoConfig& d = *dialog;
        auto* can = Child<QListWidget>(d, "clmListBoxDisplayCan");
        auto* shown = Child<QListWidget>(d, "clmListBoxDisplayDo");
        QCOMPARE(can->count(), 18);
        QCOMPARE(Texts(shown), (QStringList{U("!"), U("チャンネル名"), U("ハッシュ")}));

        // Nothing chosen: nothing happens, nothing is said.
        for (const char* button : {"clmButtonAdd", "clmButtonDel", "clmButtonUp", "clmButtonDown"})
            Click(Child<QPushButton>(d, button));
        QVERIFY(h.Messages.isEmpty());
        QVERIFY(!d.ColumnsChanged());

        SelectLine(can, U("ハッシュ"));
        Click(Child<QPushButton>(d, "clmButtonAdd"));
        QCOMPARE(h.Messages, QStringList{U("すでに選択されています")});
        QVERIFY(!d.ColumnsChanged());

        for (const char* fixed : {"!", "ハッシュ"}) {
            SelectLine(shown, U(fixed));
            Click(Child<QPushButton>(d, "clmButtonDel"));
            QCOMPARE(h.Messages.last(), U("その列は削除できません"));
        }
        QCOMPARE(shown->count(), 3);
        QVERIFY(!d.ColumnsChanged());

        SelectLine(shown, U("!"));
        Click(Child<QPushButton>(d, "clmButtonUp")); // already first
        QVERIFY(!d.ColumnsChanged());
        for (const char* caption : {"No", "リスナー/リレー", "取得時刻", "配信時間"}) {
            SelectLine(can, U(caption));
            Click(Child<QPushButton>(d, "clmButtonAdd"));
        }
        QVERIFY(d.ColumnsChanged());
        for (const char* fixed : {"No", "リスナー/リレー", "取得時刻"}) {
            SelectLine(shown, U(fixed));
            Click(Child<QPushButton>(d, "clmButtonDel"));
            QCOMPARE(h.Messages.last(), U("その列は削除できません"));
        }
        QCOMPARE(h.Messages.size(), 6);
        SelectLine(shown, U("チャンネル名"));
        Click(Child<QPushButton>(d, "clmButtonDel"));
        SelectLine(shown, U("配信時間"));
        Click(Child<QPushButton>(d, "clmButtonUp"));
        QCOMPARE(shown->currentItem()->text(), U("配信時間"));
        d.accept();
        QCOMPARE(h.Copy.Columns, (std::vector<std::string>{"!", Sjis("ハッシュ"), "No", Sjis("リスナー/リレー"),
                                                           Sjis("配信時間"), Sjis("取得時刻")}));
    }

    void ypListEditing()
    {
        Harness h(ReadFile(WindowsFixture));
        TkavoConfig::LastYpIndex = -1;
        auto dialog = h.Open();
        TkavoConfig& d = *dialog;
        auto* list = Child<QListWidget>(d, "ypListBox");
        auto* detail = Child<QWidget>(d, "ypSettingPanel");
        auto* title = Child<QLineEdit>(d, "ypEditTitle");
        const std::vector<std::string> before = YpFieldsOf(h.Copy);
        QCOMPARE(Texts(list), (QStringList{U("表示ＹＰ"), U("ソフトYP")}));
        QCOMPARE(list->item(0)->checkState(), Qt::Checked);
        QCOMPARE(list->item(1)->checkState(), Qt::Unchecked);
        QVERIFY(!detail->isEnabled());

        // Showing a YP writes nothing back, not even half of the other one's values.
        list->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
        list->setCurrentRow(1, QItemSelectionModel::ClearAndSelect);
        list->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
        QVERIFY(detail->isEnabled());
        QCOMPARE(YpFieldsOf(h.Copy), before);
        QCOMPARE(Child<QComboBox>(d, "ypComboBoxType")->currentText(), QStringLiteral("wmv|raw"));

        // An edit writes the selected YP and its line.
        title->setText(U("新しい名前"));
        Click(Child<QCheckBox>(d, "ypCheckBoxNoNotify2"));
        QCOMPARE(h.Copy.YpList[0].Title, Sjis("新しい名前"));
        QVERIFY(h.Copy.YpList[0].NoNotify2);
        QCOMPARE(list->item(0)->text(), U("新しい名前"));
        QCOMPARE(YpText(h.Copy.YpList[1]), before[1]);
        list->item(1)->setCheckState(Qt::Checked);
        QVERIFY(h.Copy.YpList[1].Enabled);

        Click(Child<QPushButton>(d, "ypButtonAdd"));
        QCOMPARE(h.Copy.YpList.Count(), 3);
        const TkavoYpItem& added = h.Copy.YpList[2];
        QCOMPARE(added.Title, std::string("noname"));
        QVERIFY(!added.Enabled);
        QCOMPARE(added.ChType, std::string(".+")); // every type: players here play them all
        QCOMPARE(Child<QComboBox>(d, "ypComboBoxType")->currentText(), QStringLiteral(".+"));
        QCOMPARE(added.Host, std::string("localhost:7144"));
        QCOMPARE(list->item(2)->checkState(), Qt::Unchecked);
        QCOMPARE(list->currentRow(), 2);
        QCOMPARE(title->text(), QStringLiteral("noname"));

        // Moving keeps both lists in the same order and the line selected; nothing past the ends.
        Click(Child<QPushButton>(d, "ypButtonUp"));
        Click(Child<QPushButton>(d, "ypButtonUp"));
        Click(Child<QPushButton>(d, "ypButtonUp"));
        QCOMPARE(Texts(list), (QStringList{U("noname"), U("新しい名前"), U("ソフトYP")}));
        QCOMPARE(h.Copy.YpList[0].Title, std::string("noname"));
        QCOMPARE(h.Copy.YpList[2].Title, Sjis("ソフトYP"));
        QCOMPARE(list->selectedItems().value(0), list->item(0));
        Click(Child<QPushButton>(d, "ypButtonDown"));
        QCOMPARE(h.Copy.YpList[1].Title, std::string("noname"));
        QCOMPARE(list->selectedItems().value(0), list->item(1));
        QCOMPARE(title->text(), QStringLiteral("noname"));

        // Deleting selects the line that takes the place; after the last line, none.
        Click(Child<QPushButton>(d, "ypButtonDel"));
        QCOMPARE(Texts(list), (QStringList{U("新しい名前"), U("ソフトYP")}));
        QCOMPARE(h.Copy.YpList.Count(), 2);
        QCOMPARE(list->selectedItems().value(0), list->item(1));
        QCOMPARE(title->text(), U("ソフトYP"));
        Click(Child<QPushButton>(d, "ypButtonDel"));
        QCOMPARE(h.Copy.YpList.Count(), 1);
        QVERIFY(list->selectedItems().isEmpty());
        QVERIFY(!detail->isEnabled());
        QCOMPARE(title->text(), U("ソフトYP")); // the detail keeps what it showed
        Click(Child<QPushButton>(d, "ypButtonDel"));
        Click(Child<QPushButton>(d, "ypButtonUp"));
        QCOMPARE(h.Copy.YpList.Count(), 1);
    }

    void emptyYpListShowsANewYpDisabled()
    {
        Harness h("");
        auto dialog = h.Open();
        TkavoConfig& d = *dialog;
        QVERIFY(!Child<QWidget>(d, "ypSettingPanel")->isEnabled());
        QCOMPARE(Child<QLineEdit>(d, "ypEditHost")->text(), QStringLiteral("localhost:7144"));
        QCOMPARE(Child<QComboBox>(d, "ypComboBoxBitrate")->currentText(), QStringLiteral("*"));
        QCOMPARE(Child<QComboBox>(d, "ypComboBoxType")->currentText(), QStringLiteral(".+"));
        QVERIFY(Child<QComboBox>(d, "ypComboBoxType")->findText(QStringLiteral("flv|mkv|raw")) >= 0);
        QVERIFY(Child<QCheckBox>(d, "ypCheckBoxUTF2SJIS")->isChecked());
        QCOMPARE(Child<QLineEdit>(d, "ypEditPCRawChName")->text(), QStringLiteral("^index(_[a-z]+)?\\.txt$"));
    }

    void pageAndYpLineAreRememberedForTheRun()
    {
        Harness h(ReadFile(WindowsFixture));
        {
            auto dialog = h.Open();
            QCOMPARE(Child<QTabWidget>(*dialog, "PageControl")->currentIndex(), 0);
            QCOMPARE(Child<QListWidget>(*dialog, "ypListBox")->currentRow(), 0);
            Child<QListWidget>(*dialog, "ypListBox")->setCurrentRow(1, QItemSelectionModel::ClearAndSelect);
            Child<QTabWidget>(*dialog, "PageControl")->setCurrentIndex(3);
            dialog->reject();
        }
        {
            auto dialog = h.Open();
            QCOMPARE(Child<QTabWidget>(*dialog, "PageControl")->currentIndex(), 3);
            QCOMPARE(Child<QListWidget>(*dialog, "ypListBox")->selectedItems().value(0)->text(), U("ソフトYP"));
            QVERIFY(Child<QWidget>(*dialog, "ypSettingPanel")->isEnabled());
            QCOMPARE(Child<QLineEdit>(*dialog, "ypEditHost")->text(), QStringLiteral("192.168.0.2:7145"));
            // A line that is gone by the next opening: no selection.
            Click(Child<QPushButton>(*dialog, "ypButtonDel"));
            Click(Child<QPushButton>(*dialog, "ypButtonAdd"));
            Click(Child<QPushButton>(*dialog, "ypButtonAdd"));
            dialog->accept();
        }
        h.Copy.Load();
        auto dialog = h.Open();
        QCOMPARE(TkavoConfig::LastYpIndex, 2);
        QVERIFY(Child<QListWidget>(*dialog, "ypListBox")->selectedItems().isEmpty());
        QVERIFY(!Child<QWidget>(*dialog, "ypSettingPanel")->isEnabled());
    }

    void droppedFiles_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("taken");
        const QString wav = QStringLiteral("notifyEditSoundFile");
        QTest::newRow("wav") << wav << QStringList{QStringLiteral("/s/a.wav")} << true;
        QTest::newRow("WAV in capitals") << wav << QStringList{QStringLiteral("/s/a.WAV")} << true;
        QTest::newRow("not a wav") << wav << QStringList{QStringLiteral("/s/a.ogg")} << false;
        QTest::newRow("only the first file counts")
            << wav << QStringList{QStringLiteral("/s/a.ogg"), QStringLiteral("/s/b.wav")} << false;
        for (const char* edit : {"ypEditScript", "evtEditOnCreate", "evtEditOnDestroy"}) {
            const QString name = QString::fromLatin1(edit);
            QTest::newRow(qPrintable(name + QStringLiteral(" dms")))
                << name << QStringList{QStringLiteral("/s/a.dms")} << true;
            QTest::newRow(qPrintable(name + QStringLiteral(" DMS")))
                << name << QStringList{QStringLiteral("/s/a.DMS")} << false;
            QTest::newRow(qPrintable(name + QStringLiteral(" js")))
                << name << QStringList{QStringLiteral("/s/a.js")} << false;
        }
        for (const char* edit : {"etcEditBrowser", "etcEditPeerCast", "etcEdit2ch"})
            QTest::newRow(edit) << QString::fromLatin1(edit) << QStringList{QStringLiteral("/usr/bin/any thing")}
                                << true;
    }
    void droppedFiles()
    {
        QFETCH(QString, edit);
        QFETCH(QStringList, files);
        QFETCH(bool, taken);
        Harness h("[YP]\r\nTitle0=a\r\n");
        auto dialog = h.Open();
        auto* target = dialog->findChild<QLineEdit*>(edit);
        QVERIFY(target);
        target->setText(QStringLiteral("before"));

        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& file : files)
            urls.append(QUrl::fromLocalFile(file));
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QCOMPARE(target->text(), taken ? files.first() : QStringLiteral("before"));
    }

    void fileButtonsAndSound()
    {
        Harness h("");
        const QString a = QString::fromStdString(h.Folder.File("a.wav"));
        const QString b = QString::fromStdString(h.Folder.File("b.wav"));
        WriteFile(a.toStdString(), "RIFF");
        WriteFile(b.toStdString(), "RIFF");
        h.Copy.Notify.SoundFile = a.toStdString();
        auto dialog = h.Open();
        TkavoConfig& d = *dialog;
        Click(Child<QToolButton>(d, "notifyButtonSoundPlay"));
        QCOMPARE(*h.Played, QStringList{QStringLiteral("file:") + a});

        QStringList asked;
        QString answer;
        d.Choosers.OpenFile = [&](QWidget*, const QString& current, const QStringList& filters, bool executables) {
            asked.append(current + QLatin1Char('|') + filters.join(QLatin1Char(';')) +
                         (executables ? QStringLiteral("|x") : QString()));
            return answer;
        };
        Click(Child<QToolButton>(d, "notifyButtonSoundFile")); // cancelled
        QCOMPARE(Child<QLineEdit>(d, "notifyEditSoundFile")->text(), a);
        answer = b;
        Click(Child<QToolButton>(d, "notifyButtonSoundFile"));
        QCOMPARE(Child<QLineEdit>(d, "notifyEditSoundFile")->text(), b);
        Click(Child<QToolButton>(d, "notifyButtonSoundPlay"));
        QCOMPARE(h.Played->last(), QStringLiteral("file:") + b);
        answer = QStringLiteral("/usr/bin/peercast");
        Click(Child<QToolButton>(d, "etcButtonPeerCast"));
        QCOMPARE(Child<QLineEdit>(d, "etcEditPeerCast")->text(), answer);
        answer = QStringLiteral("/opt/s.dms");
        Click(Child<QToolButton>(d, "evtButtonOnCreate"));
        QCOMPARE(Child<QLineEdit>(d, "evtEditOnCreate")->text(), answer);
        QCOMPARE(asked.size(), 4);
        QVERIFY2(asked[0].startsWith(a + QStringLiteral("|wav files (*.wav")), qPrintable(asked[0]));
        QVERIFY2(asked[0].contains(QStringLiteral("all files (*)")), qPrintable(asked[0]));
        QVERIFY2(asked[2].endsWith(QStringLiteral("|x")), qPrintable(asked[2]));
        QVERIFY2(asked[3].contains(QStringLiteral("(*.dms)")), qPrintable(asked[3]));
    }

    // The colour and font page works on values of its own until OK; the preview shows them.
    void lookPageKeepsItsValuesUntilOk()
    {
        Harness h(
            "[ColorFont]\r\nTextFontName=Old Face\r\nTextFontSize=13\r\nAllFontName=All Face\r\nAllFontSize=11\r\n"
            "TextVisitColor=255\r\nVisit=1\r\nGridLine=1\r\nTextLinkColor=65280\r\n");
        auto dialog = h.Open();
        TkavoConfig& d = *dialog;
        auto* preview = Child<ChannelListView>(d, "fontListView");
        QCOMPARE(d.font().family(), QStringLiteral("All Face"));
        QCOMPARE(preview->font().family(), QStringLiteral("Old Face"));
        QCOMPARE(preview->font().pointSize(), 13);
        QVERIFY(preview->Look().GridLine);
        const int name = 2;
        QCOMPARE(PreviewTextColor(preview, 0, name), preview->palette().color(QPalette::Text)); // no link
        QCOMPARE(PreviewTextColor(preview, 1, name), QColor(0, 255, 0));
        QCOMPARE(PreviewTextColor(preview, 2, name), QColor(255, 0, 0)); // visited
        Click(Child<QCheckBox>(d, "fontCheckBoxVisit"));
        QVERIFY(d.LookChanged());
        QCOMPARE(PreviewTextColor(preview, 2, name), QColor(0, 255, 0));

        d.Choosers.ChooseColor = [](QWidget*, const QColor&) { return std::optional<QColor>(QColor(1, 2, 3)); };
        d.Choosers.ChooseFont = [](QWidget*, const QFont&) {
            QFont font(QStringLiteral("New Face"));
            font.setPointSize(15);
            return std::optional<QFont>(font);
        };
        Click(Child<QPushButton>(d, "fontButtonBackColor"));
        Click(Child<QPushButton>(d, "fontButtonTextFont"));
        QCOMPARE(preview->palette().color(QPalette::Base), QColor(1, 2, 3));
        QCOMPARE(preview->font().family(), QStringLiteral("New Face"));
        QCOMPARE(h.Copy.ColorFont.BackColor, clWindow);
        QCOMPARE(h.Copy.TextFont.Name, std::string("Old Face"));

        // The default look leaves the visited colour, its box and the whole-interface font alone.
        Click(Child<QPushButton>(d, "fontButtonDefault"));
        QVERIFY(!Child<QCheckBox>(d, "fontCheckBoxGridLine")->isChecked());
        QVERIFY(!preview->Look().GridLine);
        QCOMPARE(preview->font().family(), QString::fromStdString(TkavoSetting::SystemFont().Name));
        d.accept();
        const auto& look = h.Copy.ColorFont;
        QCOMPARE(look.TextVisitColor, ColorValue(255));
        QVERIFY(!look.Visit);
        QCOMPARE(look.TextLinkColor, clBlue);
        QCOMPARE(look.TextFontColor, clWindowText);
        QCOMPARE(look.BackColor, clWindow);
        QCOMPARE(look.TextLinkSelColor, clHighlightText);
        QVERIFY(!look.GridLine);
        QCOMPARE(h.Copy.TextFont, TkavoSetting::SystemFont());
        QCOMPARE(h.Copy.AllFont, (FontSetting{"All Face", 11}));
    }

    void wholeInterfaceFontIsTheDialogsOwn()
    {
        Harness h("");
        auto dialog = h.Open();
        TkavoConfig& d = *dialog;
        d.Choosers.ChooseFont = [](QWidget*, const QFont&) {
            QFont font(QStringLiteral("Chosen Face"));
            font.setPointSize(12);
            return std::optional<QFont>(font);
        };
        Click(Child<QPushButton>(d, "fontButtonAllFont"));
        QCOMPARE(Child<QPushButton>(d, "ButtonOK")->font().family(), QStringLiteral("Chosen Face"));
        QVERIFY(d.LookChanged());
        d.accept();
        QCOMPARE(h.Copy.AllFont, (FontSetting{"Chosen Face", 12}));
    }

    // With KAVO_SCREENSHOTS set to a folder: a picture of every page there.
    void screenshots()
    {
        const QString folder = qEnvironmentVariable("KAVO_SCREENSHOTS");
        if (folder.isEmpty())
            QSKIP("KAVO_SCREENSHOTS is not set");
        QDir().mkpath(folder);
        Harness h(ReadFile(WindowsFixture));
        h.Copy.TextFont = h.Copy.AllFont = TkavoSetting::SystemFont();
        auto dialog = h.Open();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        auto* pages = Child<QTabWidget>(*dialog, "PageControl");
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            const QString name = folder + QStringLiteral("/settings-%1").arg(i + 1, 2, 10, QLatin1Char('0'));
            // Pages with sub-pages get one picture for each.
            QTabWidget* inner = pages->widget(i)->findChild<QTabWidget*>();
            for (int j = 0; j < (inner ? inner->count() : 1); ++j) {
                if (inner)
                    inner->setCurrentIndex(j);
                QWidget* shown = inner ? inner->currentWidget() : pages->currentWidget();
                QTRY_VERIFY(shown->isVisible());
                const QString file =
                    name + (j > 0 ? QStringLiteral("-%1").arg(j + 1) : QString()) + QStringLiteral(".png");
                QVERIFY2(dialog->grab().save(file), qPrintable(file));
            }
        }
        dialog->hide();

        // An input box, in Japanese as the program shows it.
        QTranslator* japanese = InstallQtJapanese(*QCoreApplication::instance());
        const QString file = folder + QStringLiteral("/inputbox.png");
        bool saved = false;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                poll.stop();
                QTest::qWait(200);
                saved = box->grab().save(file);
                box->reject();
            }
        });
        poll.start();
        bool ok = false;
        GetInputText(nullptr, QString::fromUtf8("YP風表示->軽量モード->カスタム(リスナ)"),
                     QString::fromUtf8("最小値,最大値を入力してください"), QLineEdit::Normal, QStringLiteral("0,100"),
                     &ok);
        if (japanese) {
            QCoreApplication::removeTranslator(japanese);
            delete japanese;
        }
        QVERIFY2(saved, qPrintable(file));
    }
};

QTEST_MAIN(ConfigDialogTest)
#include "ConfigDialogTest.moc"
