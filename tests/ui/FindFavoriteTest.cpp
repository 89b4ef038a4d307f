#include "common/ukavoCommon.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/ProgramFolder.h"
#include "settings/IniFile.h"
#include "support/NotifyTestSupport.h"
#include "support/TestHttpServer.h"
#include "support/TestProgram.h"
#include "ui/dialogs/ukavoFavorite.h"
#include "ui/dialogs/ukavoFind.h"
#include "ui/window/SettingsHolder.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>

using namespace kavo;
using namespace kavo::test;

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

template <class T>
T* Child(const QWidget& dialog, const char* name)
{
    T* child = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qFatal("no control %s", name);
    return child;
}

// Runs `act` on the modal dialog that `open` shows, once it is up.
void OnModal(const std::function<void(QDialog&)>& act, const std::function<void()>& open)
{
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        act(*dialog);
    });
    open();
}

std::string Index(std::initializer_list<std::pair<const char*, int>> channels)
{
    std::string text;
    for (const auto& [name, listeners] : channels)
        text += std::string(name) + "<>" + std::string(32, '0') + "<>10.0.0.1:7144<>http://example.com/" + name +
                "<>genre<>desc<>" + std::to_string(listeners) + "<>1<>300<>WMV<><><><><>%20<>1:05<>click<><>0\r\n";
    return text;
}

std::string Names(const ChannelListView* view, bool markFound = true)
{
    std::string names;
    for (const TkavoChItem* channel : view->Model().Rows())
        names += (names.empty() ? "" : " ") + channel->ChannelName + (markFound && channel->Find ? "*" : "");
    return names;
}

// A program folder with templates, icons and settings over one YP of a local server, and the
// program's parts made in its order.
class Harness : public TestProgram
{
public:
    TempFolder Folder;
    TestHttpServer Server;
    std::shared_ptr<ManualClock> Clock = std::make_shared<ManualClock>(DateTimeFromTime(std::time(nullptr)));

    explicit Harness(const std::string& favorites = "")
    {
        namespace fs = std::filesystem;
        fs::create_directories(Folder.File("templates"));
        for (const char* name :
             {"notify.txt", "clipboard.txt", "popup.txt", "ie_header.html", "ie_channel.html", "ie_footer.html"})
            WriteFile(Folder.File(std::string("templates/") + name), "<channelname/>");
        fs::copy(fs::path(KAVO_TEST_DATA) / ".." / ".." / "data" / "icons", Folder.File("icons"));
        WriteFile(Folder.File("kavo.ini"), "[YP]\nEnabled0=1\nTitle0=yp\nUrl0=" + Server.Url("/yp/") +
                                               "\n[Etc]\nPeerCast=/nonexistent/peercast\n"
                                               "[Notify]\nTTS=0\nSound=0\n" +
                                               favorites);
        SetProgramFolder(Folder.Path());
        SetClock(Clock);
    }
    ~Harness()
    {
        Free();
        SetClock(nullptr);
        SetProgramFolder({});
    }

    void Start()
    {
        Create();
        P->Start();
        QTRY_VERIFY(P->Common().Initialized);
        Action("ActionMainModeAuto")->setChecked(true);
    }

    bool Cycle(const std::string& index, std::chrono::milliseconds delay = {})
    {
        HttpReply reply = HttpReply::Ok(index);
        reply.Delay = delay;
        Server.Route("/yp/index.txt", reply);
        QSignalSpy finished(&Refreshes(), &RefreshCycle::CycleFinished);
        StartCycle();
        return finished.wait(10000);
    }
    void StartCycle()
    {
        // An automatic refresh past the per-YP pause: the search, not the refresh rules, is under test.
        Clock->AddMinutes(11);
        Refreshes().RefreshTimer();
    }

    // Confirms the find dialog with this input and these options.
    void Find(const char* input, bool moveUp, bool keep = true, bool htmlPage = false)
    {
        OnModal(
            [&](QDialog& dialog) {
                Child<QComboBox>(dialog, "ComboBoxFind")->setEditText(U(input));
                Child<QCheckBox>(dialog, "CheckBoxMoveResultsUp")->setChecked(moveUp);
                Child<QCheckBox>(dialog, "CheckBoxKeepFind")->setChecked(keep);
                dialog.accept();
            },
            [&] { Action(htmlPage ? "ActionLVFindChannel2" : "ActionLVFindChannel")->trigger(); });
    }
};

} // namespace

class FindFavoriteTest : public QObject
{
    Q_OBJECT

private slots:
    // OK turns the input into the pattern and keeps one history entry per text, newest first, at
    // most ten; the history is in find.txt (CP932) for the next dialog made.
    void findDialogPatternAndHistory()
    {
        TempFolder folder;
        SetProgramFolder(folder.Path());
        TkavoSetting setting;
        TkavoCommon common(setting, CommonPaths{folder.Path(), "kavo", folder.File("kavo.ini")}, nullptr);
        FindState state;
        auto dialog = std::make_unique<TkavoFind>(state, common);
        QVERIFY(dialog->History().isEmpty()); // no file: no history and no message
        auto* input = Child<QComboBox>(*dialog, "ComboBoxFind");

        struct Case
        {
            const char* input;
            const char* findValue; // UTF-8
        };
        const Case cases[] = {
            {"foo bar", "foo|bar"},           {"  foo  bar ", "foo||bar"}, {"tom\xe3\x80\x80jerry", "tom|jerry"},
            {"A&B <c>", "A&amp;B|&lt;c&gt;"}, {"foo bar", "foo|bar"},      {" \t ", ""},
        };
        for (const Case& c : cases) {
            input->setEditText(U(c.input));
            dialog->accept();
            QCOMPARE(QString::fromStdString(Cp932ToUtf8(state.FindValue)), U(c.findValue));
            QCOMPARE(common.FindValue2, state.FindValue);
        }
        QCOMPARE(dialog->History(),
                 QStringList({U("foo bar"), U("A&B <c>"), U("tom\xe3\x80\x80jerry"), U("foo  bar")}));
        for (int i = 0; i < 10; ++i) {
            input->setEditText(QStringLiteral("w%1").arg(i));
            dialog->accept();
        }
        QCOMPARE(dialog->History().size(), 10);
        QCOMPARE(dialog->History().first(), QStringLiteral("w9"));
        QCOMPARE(dialog->History().last(), QStringLiteral("w0"));

        input->setEditText(U("\xe6\xa4\x9c\xe7\xb4\xa2")); // 検索
        dialog->accept();
        QVERIFY(ReadFile(folder.File("find.txt")).starts_with(Sjis("検索") + "\r\nw9\r\n"));
        auto again = std::make_unique<TkavoFind>(state, common);
        QCOMPARE(again->History(), dialog->History());
        SetProgramFolder({});
    }

    // Showing with the keep box unchecked starts empty; F3 and Esc cancel and keep the last values.
    void findDialogShowingAndCancelling()
    {
        TempFolder folder;
        SetProgramFolder(folder.Path());
        TkavoSetting setting;
        TkavoCommon common(setting, CommonPaths{folder.Path(), "kavo", folder.File("kavo.ini")}, nullptr);
        FindState state;
        TkavoFind dialog(state, common);
        auto* input = Child<QComboBox>(dialog, "ComboBoxFind");
        input->setEditText(QStringLiteral("abc"));
        dialog.accept();
        QCOMPARE(state.FindValue, std::string("abc"));

        for (const auto key : {Qt::Key_F3, Qt::Key_Escape}) {
            bool closedByKey = false;
            OnModal(
                [&](QDialog& shown) {
                    QApplication::setActiveWindow(&shown);
                    Child<QComboBox>(shown, "ComboBoxFind")->setEditText(QStringLiteral("changed"));
                    Child<QCheckBox>(shown, "CheckBoxMoveResultsUp")->setChecked(true);
                    QTest::keyClick(Child<QComboBox>(shown, "ComboBoxFind")->lineEdit(), key);
                    closedByKey = !shown.isVisible();
                    if (!closedByKey)
                        shown.done(QDialog::Accepted);
                },
                [&] { QCOMPARE(dialog.exec(), int(QDialog::Rejected)); });
            QVERIFY2(closedByKey, key == Qt::Key_F3 ? "F3" : "Esc");
            QCOMPARE(state.FindValue, std::string("abc"));
            QVERIFY(!state.MoveResultsUp);
        }

        Child<QCheckBox>(dialog, "CheckBoxKeepFind")->setChecked(false);
        QString shownText = QStringLiteral("unset");
        std::string shownValue = "unset";
        OnModal(
            [&](QDialog& shown) {
                shownText = Child<QComboBox>(shown, "ComboBoxFind")->currentText();
                shownValue = state.FindValue;
                QApplication::setActiveWindow(&shown);
                QTest::keyClick(Child<QComboBox>(shown, "ComboBoxFind")->lineEdit(), Qt::Key_Return);
                if (shown.isVisible())
                    shown.reject();
            },
            [&] { QCOMPARE(dialog.exec(), int(QDialog::Accepted)); });
        QCOMPARE(shownText, QString());
        QCOMPARE(shownValue, std::string());
        QCOMPARE(state.FindValue, std::string());
        QVERIFY(!state.KeepFind);
        SetProgramFolder({});
    }

    // A search with the move option puts the found channels first, bold, in their order; a kept
    // search is applied again after a refresh; Esc restores the sorted order and the marks go.
    void searchingTheLists()
    {
        Harness h;
        h.Start();
        ChannelListView* now = h.ListViewNow();
        QVERIFY(h.Cycle(Index({{"alpha", 50}, {"beta", 40}, {"gamma", 30}, {"delta", 20}, {"eps", 10}})));
        QCOMPARE(Names(now), std::string("alpha beta gamma delta eps"));

        h.Find("ta  zzz", false); // two blanks: the empty alternative finds every channel
        QCOMPARE(Names(now), std::string("alpha* beta* gamma* delta* eps*"));

        h.Find("TA ps", true);
        QCOMPARE(Names(now), std::string("beta* delta* eps* alpha gamma"));

        QVERIFY(h.Cycle(Index({{"alpha", 50}, {"beta", 40}, {"gamma", 30}, {"delta", 60}})));
        QCOMPARE(Names(now), std::string("delta* beta* alpha gamma"));

        h.Action("ActionLVFindClear")->trigger();
        QCOMPARE(Names(now), std::string("delta alpha beta gamma"));
        // Esc ended the kept search: the next refresh brings no marks back.
        QVERIFY(h.Cycle(Index({{"alpha", 50}, {"beta", 40}, {"gamma", 30}, {"delta", 60}})));
        QCOMPARE(Names(now), std::string("delta alpha beta gamma"));

        // Without keeping, a refresh drops the marks; an empty search restores the sorted order.
        h.Find("beta", true, false);
        QCOMPARE(Names(now), std::string("beta* delta alpha gamma"));
        QVERIFY(h.Cycle(Index({{"alpha", 50}, {"beta", 40}})));
        QCOMPARE(Names(now), std::string("alpha beta"));
        h.Find("beta", true);
        h.Find("", true);
        QCOMPARE(Names(now), std::string("alpha beta"));
        QCOMPARE(h.P->Common().FindValue2, std::string());
    }

    // The dialog edits the list it is given: add, rename, move, delete, and the detail group's
    // state; the line selected at closing is selected again at the next opening.
    void favoriteDialogEditsTheList()
    {
        Harness h;
        TkavoSetting setting;
        TkavoCommon common(setting, CommonPaths::Current(), nullptr);
        TkavoFavoriteList favorites;
        favorites.Add(std::make_unique<TkavoFavoriteItem>()).Title = "one";
        const TkavoChList onAir;
        TkavoFavorite::LastFavoriteIndex = 0;
        {
            TkavoFavorite dialog(favorites, common, onAir, QFont());
            auto* list = Child<QListWidget>(dialog, "favListBox");
            auto* panel = Child<QGroupBox>(dialog, "favSettingPanel");
            QCOMPARE(list->currentRow(), 0);
            QVERIFY(panel->isEnabled());

            Child<QPushButton>(dialog, "favButtonAdd")->click();
            QCOMPARE(favorites.Count(), 2);
            const TkavoFavoriteItem& added = favorites[1];
            QCOMPARE(added.Title, std::string("noname"));
            QVERIFY(added.Channel && added.RegExp && !added.Enabled && !added.Description);
            QCOMPARE(list->item(1)->checkState(), Qt::Unchecked);
            QCOMPARE(list->currentRow(), 1);

            Child<QLineEdit>(dialog, "favEditTitle")->setText(QStringLiteral("two"));
            QCOMPARE(list->item(1)->text(), QStringLiteral("two"));
            Child<QCheckBox>(dialog, "favCheckBoxNotNotify")->setChecked(true);
            list->item(1)->setCheckState(Qt::Checked);
            QVERIFY(favorites[1].NotNotify && favorites[1].Enabled);

            Child<QPushButton>(dialog, "favButtonUp")->click();
            QCOMPARE(favorites[0].Title, std::string("two"));
            QCOMPARE(list->item(0)->text(), QStringLiteral("two"));
            QCOMPARE(list->currentRow(), 0);
            Child<QPushButton>(dialog, "favButtonUp")->click(); // at the top: nothing
            QCOMPARE(favorites[0].Title, std::string("two"));

            Child<QPushButton>(dialog, "favButtonDel")->click();
            QCOMPARE(favorites.Count(), 1);
            QCOMPARE(list->currentRow(), 0); // the line that took the index
            QCOMPARE(Child<QLineEdit>(dialog, "favEditTitle")->text(), QStringLiteral("one"));
            Child<QTabWidget>(dialog, "JvPageControl")->setCurrentIndex(2);
            Child<QPushButton>(dialog, "favButtonDel")->click();
            QCOMPARE(favorites.Count(), 0);
            QVERIFY(list->selectedItems().isEmpty());
            QVERIFY(!panel->isEnabled());
            QCOMPARE(Child<QTabWidget>(dialog, "JvPageControl")->currentIndex(), 0);
            QCOMPARE(Child<QLineEdit>(dialog, "favEditTitle")->text(), QStringLiteral("one")); // kept as shown

            dialog.reject();
        }
        for (const char* title : {"a", "b", "c"})
            favorites.Add(std::make_unique<TkavoFavoriteItem>()).Title = title;
        {
            TkavoFavorite dialog(favorites, common, onAir, QFont());
            auto* list = Child<QListWidget>(dialog, "favListBox");
            QVERIFY(list->selectedItems().isEmpty()); // none was selected when the last dialog closed
            list->setCurrentRow(2);
            dialog.accept();
        }
        TkavoFavorite dialog(favorites, common, onAir, QFont());
        QCOMPARE(Child<QListWidget>(dialog, "favListBox")->currentRow(), 2);
        QCOMPARE(Child<QLineEdit>(dialog, "favEditTitle")->text(), QStringLiteral("c"));
    }

    // Colours: a named colour is stored as its value, a system colour as the system value, and a
    // custom one is added to the list; the preview counts the channels on air the rule finds and
    // shows a bad expression's error, while the word is stored as typed.
    void favoriteDialogColoursAndPreview()
    {
        Harness h;
        TkavoSetting setting;
        TkavoCommon common(setting, CommonPaths::Current(), nullptr);
        TkavoFavoriteList favorites;
        favorites.Add(std::make_unique<TkavoFavoriteItem>()).Color = 0x123456;
        TkavoChList onAir;
        for (const char* name : {"Game night", "talk", "game day"})
            onAir.Add(std::make_unique<TkavoChItem>()).ChannelName = name;
        TkavoFavorite::LastFavoriteIndex = 0;
        TkavoFavorite dialog(favorites, common, onAir, QFont());
        dialog.Choosers.ChooseColor = [](QWidget*, const QColor&) { return std::optional<QColor>(QColor(1, 2, 3)); };

        auto* combo = Child<QComboBox>(dialog, "favColorCombo");
        QCOMPARE(combo->currentText(), QStringLiteral("$00123456")); // a stored custom colour is listed
        struct Case
        {
            const char* name;
            ColorValue stored;
        };
        for (const Case& c : {Case{"赤", 0x0000FF}, Case{"ウィンドウの背景", clWindow}, Case{"空色", 0xF0CAA6},
                              Case{"その他の色...", 0x030201}}) {
            const int index = combo->findText(QString::fromUtf8(c.name));
            QVERIFY2(index >= 0, c.name);
            combo->setCurrentIndex(index);
            emit combo->activated(index);
            QVERIFY2(favorites[0].Color == c.stored, c.name);
        }
        QCOMPARE(combo->currentText(), QStringLiteral("$00030201"));

        auto* word = Child<QLineEdit>(dialog, "favEditWord");
        auto* preview = Child<QLabel>(dialog, "favLabelPreview");
        Child<QCheckBox>(dialog, "favCheckBoxChannelName")->setChecked(true);
        Child<QCheckBox>(dialog, "favCheckBoxRegExp")->setChecked(true);
        word->setText(QStringLiteral("^game"));
        QVERIFY2(preview->text().contains(QStringLiteral(" 2 ")) &&
                     preview->text().contains(QStringLiteral("game day")),
                 qPrintable(preview->text()));
        word->setText(QStringLiteral("game("));
        QVERIFY2(preview->text().startsWith(U("正規表現")), qPrintable(preview->text()));
        QCOMPARE(favorites[0].Word, std::string("game("));
    }

    // OK saves the edited copy, matches the channels on air again and refills the views; Cancel
    // leaves the file and the lists as they were.
    void favoriteDialogOkRematchesTheLists()
    {
        Harness h("[Favorite]\nEnabled0=1\nTitle0=hide\nWord0=beta\nChannel0=1\nListDisable0=1\n");
        h.Start();
        QVERIFY(h.Cycle(Index({{"alpha", 50}, {"beta", 40}})));
        QCOMPARE(Names(h.ListViewNow()), std::string("alpha"));
        const std::string before = ReadFile(h.Folder.File("kavo.ini"));

        for (const bool ok : {false, true}) {
            OnModal(
                [&](QDialog& dialog) {
                    Child<QListWidget>(dialog, "favListBox")->item(0)->setCheckState(Qt::Unchecked);
                    Child<QPushButton>(dialog, "favButtonAdd")->click();
                    if (ok)
                        dialog.accept();
                    else
                        dialog.reject();
                },
                [&] { h.Action("ActionMainFavorite")->trigger(); });
            if (!ok) {
                QCOMPARE(ReadFile(h.Folder.File("kavo.ini")), before);
                QCOMPARE(h.P->Setting().Favorites.Count(), 1);
                QCOMPARE(Names(h.ListViewNow()), std::string("alpha"));
            }
        }
        QCOMPARE(h.P->Setting().Favorites.Count(), 2);
        QVERIFY(!h.P->Setting().Favorites[0].Enabled);
        QCOMPARE(IniFile::Read(h.Folder.File("kavo.ini")).ReadString("Favorite", "Title1", ""), std::string("noname"));
        QCOMPARE(Names(h.ListViewNow()), std::string("alpha beta"));
    }

    // A cycle that started on the old favorites delivers lists matched with the new ones.
    void favoritesCommittedDuringACycleApplyAtItsEnd()
    {
        Harness h("[Favorite]\nEnabled0=1\nTitle0=hide\nWord0=beta\nChannel0=1\nListDisable0=1\n");
        h.Start();
        QVERIFY(h.Cycle(Index({{"alpha", 50}, {"beta", 40}})));
        HttpReply slow = HttpReply::Ok(Index({{"alpha", 50}, {"beta", 40}}));
        slow.Delay = std::chrono::milliseconds(500);
        h.Server.Route("/yp/index.txt", slow);
        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);
        h.StartCycle();
        QVERIFY(h.P->Net().Running());
        TkavoSetting edited = h.P->Setting();
        edited.Favorites[0].Enabled = false;
        QVERIFY(!h.P->Settings().Commit(edited));
        QVERIFY(!h.P->Net().RematchFavorites());
        QVERIFY(finished.wait(10000));
        QCOMPARE(Names(h.ListViewNow()), std::string("alpha beta"));
    }
};

QTEST_MAIN(FindFavoriteTest)
#include "FindFavoriteTest.moc"
