// Rules files in the program: following one that another machine changes, and the dialogs' buttons.
#include "common/ukavoCommon.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/ProgramFolder.h"
#include "rules/RulesFile.h"
#include "settings/IniFile.h"
#include "support/NotifyTestSupport.h"
#include "support/TestHttpServer.h"
#include "support/TestProgram.h"
#include "ui/dialogs/RulesFilePage.h"
#include "ui/dialogs/ukavoConfig.h"
#include "ui/dialogs/ukavoFavorite.h"
#include "ui/window/RulesFollower.h"
#include "ui/window/SettingsHolder.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <cstdio>
#include <filesystem>
#include <memory>

using namespace kavo;
using namespace kavo::test;

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

template <class T>
T* Child(const QWidget& parent, const char* name)
{
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qFatal("no control %s", name);
    return child;
}

QStringList Texts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

std::string Index(std::initializer_list<const char*> names)
{
    std::string text;
    for (const char* name : names)
        text += std::string(name) + "<>" + std::string(32, '0') +
                "<>10.0.0.1:7144<>http://example.com/<>genre<>desc<>" +
                "10<>1<>300<>WMV<><><><><>%20<>1:05<>click<><>0\r\n";
    return text;
}

std::string Names(const ChannelListView* view)
{
    std::string names;
    for (const TkavoChItem* channel : view->Model().Rows())
        names += (names.empty() ? "" : " ") + channel->ChannelName;
    return names;
}

// A rules file with one favorite that hides the channels named word, over the test's YP.
std::string HidingRules(const std::string& word, const std::string& ypUrl)
{
    return "{\"version\": 1, \"favorites\": [{\"title\": \"hide\", \"enabled\": true, \"word\": \"" + word +
           "\", \"fields\": [\"channel\"], \"hide\": true}], \"yps\": [{\"title\": \"yp\", \"url\": \"" + ypUrl +
           "\", \"enabled\": true, \"type\": \".+\"}]}";
}

// As editors and sync tools save: a new file renamed over the old one.
void Replace(const std::string& path, const std::string& text)
{
    WriteFile(path + ".part", text);
    std::filesystem::rename(path + ".part", path);
}

// The program over a folder with templates, icons and a settings file that follows
// sync/kavo-rules.json.
class Harness : public TestProgram
{
public:
    TempFolder Folder;
    TestHttpServer Server;
    std::shared_ptr<ManualClock> Clock = std::make_shared<ManualClock>(DateTimeFromTime(std::time(nullptr)));
    std::string RulesFile = Folder.File("sync/kavo-rules.json");

    Harness()
    {
        namespace fs = std::filesystem;
        fs::create_directories(Folder.File("templates"));
        for (const char* name :
             {"notify.txt", "clipboard.txt", "popup.txt", "ie_header.html", "ie_channel.html", "ie_footer.html"})
            WriteFile(Folder.File(std::string("templates/") + name), "<channelname/>");
        fs::copy(fs::path(KAVO_TEST_DATA) / ".." / ".." / "data" / "icons", Folder.File("icons"));
        fs::create_directories(Folder.File("sync"));
        WriteFile(Folder.File("kavo.ini"),
                  "[YP]\nEnabled0=1\nTitle0=yp\nUrl0=" + Server.Url("/yp/") +
                      "\nChType0=.+\n[Etc]\nPeerCast=/nonexistent/peercast\n"
                      "[Notify]\nTTS=0\nSound=0\n[Rules]\nFollow=1\nFile=sync/kavo-rules.json\n");
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

    bool Cycle(const std::string& index)
    {
        Server.Route("/yp/index.txt", HttpReply::Ok(index));
        QSignalSpy finished(&Refreshes(), &RefreshCycle::CycleFinished);
        Clock->AddMinutes(11);
        Refreshes().RefreshTimer();
        return finished.wait(10000);
    }

    std::string Favorite0(const char* key) const
    {
        return IniFile::Read(Folder.File("kavo.ini")).ReadString("Favorite", key, "");
    }
};

} // namespace

class RulesTest : public QObject
{
    Q_OBJECT

private slots:
    // A file already there wins when kavo starts; a file another machine replaces, or writes
    // into, is taken on by itself: settings file, matching and lists.
    void followedFileChangesAreTakenOn()
    {
        Harness h;
        WriteFile(h.RulesFile, HidingRules("beta", h.Server.Url("/yp/")));
        h.Start();
        QCOMPARE(h.P->Rules().Path(), h.RulesFile);
        QCOMPARE(h.Favorite0("Word0"), std::string("beta"));
        QVERIFY(h.Cycle(Index({"alpha", "beta", "gamma"})));
        QCOMPARE(Names(h.ListViewNow()), std::string("alpha gamma"));

        QSignalSpy applied(&h.P->Rules(), &RulesFollower::Applied);
        QElapsedTimer elapsed;
        elapsed.start();
        Replace(h.RulesFile, HidingRules("alpha", h.Server.Url("/yp/")));
        QVERIFY(applied.wait(10000));
        qInfo("a replaced rules file was taken on after %lld ms", static_cast<long long>(elapsed.elapsed()));
        QCOMPARE(h.Favorite0("Word0"), std::string("alpha"));
        QCOMPARE(Names(h.ListViewNow()), std::string("beta gamma"));

        WriteFile(h.RulesFile, HidingRules("gamma", h.Server.Url("/yp/")));
        QVERIFY(applied.wait(10000));
        QCOMPARE(h.P->Setting().Favorites[0].Word, std::string("gamma"));
        QCOMPARE(Names(h.ListViewNow()), std::string("alpha beta"));
        QCOMPARE(applied.count(), 2);
    }

    // Without a file, kavo writes its rules; its own changes go there too, and reading them back
    // takes nothing on.
    void ownChangesAreWrittenToTheFile()
    {
        Harness h;
        h.Start();
        const std::string written = ReadFile(h.RulesFile);
        QCOMPARE(written, RulesText(RulesOf(h.P->Setting())));

        QSignalSpy applied(&h.P->Rules(), &RulesFollower::Applied);
        QSignalSpy wrote(&h.P->Rules(), &RulesFollower::Written);
        TkavoSetting edited = h.P->Setting();
        auto favorite = std::make_unique<TkavoFavoriteItem>();
        favorite->Title = Sjis("新しい");
        favorite->Word = "x";
        edited.Favorites.Add(std::move(favorite));
        QVERIFY(!h.P->Settings().Commit(edited));
        QCOMPARE(wrote.count(), 1);
        QCOMPARE(ReadFile(h.RulesFile), RulesText(RulesOf(h.P->Setting())));
        QVERIFY(ReadFile(h.RulesFile).find("新しい") != std::string::npos);
        h.P->Rules().Reread();
        QCOMPARE(applied.count(), 0);

        // A change of something else than the rules leaves the file alone.
        edited = h.P->Setting();
        edited.Notify.Title = "other";
        QVERIFY(!h.P->Settings().Commit(edited));
        QCOMPARE(wrote.count(), 1);
    }

    // A file that cannot be taken keeps the rules and is told once for each fault.
    void aBrokenFileIsToldOnce()
    {
        Harness h;
        h.Start();
        const int favorites = h.P->Setting().Favorites.Count();
        QSignalSpy problems(&h.P->Rules(), &RulesFollower::Problem);
        QSignalSpy applied(&h.P->Rules(), &RulesFollower::Applied);
        const std::string broken = "{\"version\": 1, \"favorites\": [{\"title\": \"a\", \"regex\": \"(a\"}]}";
        WriteFile(h.RulesFile, broken);
        h.P->Rules().Reread();
        WriteFile(h.RulesFile, broken);
        h.P->Rules().Reread();
        QCOMPARE(problems.count(), 1);
        QVERIFY(problems[0][0].toString().contains(QStringLiteral("favorites[0].regex: missing closing parenthesis")));
        QCOMPARE(h.P->Setting().Favorites.Count(), favorites);

        WriteFile(h.RulesFile, "{\"version\": 9}");
        h.P->Rules().Reread();
        QCOMPARE(problems.count(), 2);
        QVERIFY(problems[1][0].toString().contains(QStringLiteral("version: 9 is newer")));

        std::remove(h.RulesFile.c_str());
        h.P->Rules().Reread();
        QCOMPARE(problems.count(), 3);
        QCOMPARE(applied.count(), 0);
        // The notification says why.
        QTRY_VERIFY(!h.TrayMessages.isEmpty());

        WriteFile(h.RulesFile, HidingRules("beta", h.Server.Url("/yp/")));
        h.P->Rules().Reread();
        QCOMPARE(applied.count(), 1);
        QCOMPARE(h.P->Setting().Favorites.Count(), 1);
    }

    // Following is set on its page; a new file to follow is taken up at once.
    void theSettingsPageChoosesTheFile()
    {
        Harness h;
        h.Start();
        TkavoSetting edited = h.P->Setting();
        {
            TkavoConfig dialog(edited, h.P->Common());
            auto& page = dialog.RulesPage();
            QCOMPARE(Child<QLineEdit>(page, "rulesEditFile")->text(), QStringLiteral("sync/kavo-rules.json"));
            QVERIFY(Child<QCheckBox>(page, "rulesCheckBoxFollow")->isChecked());
            page.ChooseFile = [&](QWidget*, const QString&) {
                return QString::fromStdString(h.Folder.File("other.json"));
            };
            Child<QToolButton>(page, "rulesButtonFile")->click();
            dialog.accept();
        }
        QCOMPARE(edited.Rules.File, h.Folder.File("other.json"));
        QSignalSpy wrote(&h.P->Rules(), &RulesFollower::Written);
        QVERIFY(!h.P->Settings().Commit(edited));
        QVERIFY(wrote.wait(10000));
        QCOMPARE(h.P->Rules().Path(), h.Folder.File("other.json"));
        QCOMPARE(ReadFile(h.Folder.File("other.json")), RulesText(RulesOf(h.P->Setting())));

        edited = h.P->Setting();
        edited.Rules.Follow = false;
        QVERIFY(!h.P->Settings().Commit(edited));
        QTRY_COMPARE(h.P->Rules().Path(), std::string());
    }

    // The favorites dialog exports all or chosen favorites and imports a file's favorites into
    // its copy: added where new, or in place of the list.
    void favoritesDialogExportsAndImports()
    {
        TempFolder folder;
        SetProgramFolder(folder.Path());
        TkavoSetting setting;
        TkavoCommon common(setting, CommonPaths{folder.Path(), "kavo", folder.File("kavo.ini")}, nullptr);
        TkavoFavoriteList favorites;
        for (const char* title : {"a", "b", "c"}) {
            auto favorite = std::make_unique<TkavoFavoriteItem>();
            favorite->Title = title;
            favorite->Word = title;
            favorites.Add(std::move(favorite));
        }
        TkavoChList onAir;
        TkavoFavorite dialog(favorites, common, onAir, QFont());
        QStringList told;
        QString chosenFile = QString::fromStdString(folder.File("chosen.json"));
        ImportMode mode = ImportMode::Add;
        dialog.RulesFiles.ChooseFile = [&](QWidget*, bool) { return chosenFile; };
        dialog.RulesFiles.AskMode = [&](QWidget*) { return std::optional<ImportMode>(mode); };
        dialog.RulesFiles.Tell = [&](QWidget*, const QString& text, bool) { told.append(text); };
        dialog.RulesFiles.ChooseLines = [](QWidget*, const QStringList& lines, const std::vector<int>&) {
            return lines.size() == 3 ? std::optional<std::vector<int>>({0, 2}) : std::nullopt;
        };
        auto* exportButton = Child<QPushButton>(dialog, "favButtonExport");
        exportButton->menu()->actions().at(1)->trigger(); // chosen ones
        QCOMPARE(ParseRules(ReadFile(folder.File("chosen.json"))).Rules.Favorites->size(), 2u);
        chosenFile = QString::fromStdString(folder.File("all.json"));
        exportButton->menu()->actions().at(0)->trigger();
        const RulesReading all = ParseRules(ReadFile(folder.File("all.json")));
        QCOMPARE(all.Rules.Favorites->size(), 3u);
        QVERIFY(!all.Rules.Yps);

        // b and a new d, with a YP this dialog does not take.
        WriteFile(folder.File("in.json"),
                  "{\"version\": 1, \"favorites\": [{\"title\": \"b\", \"word\": \"b\"},"
                  "            {\"title\": \"d\", \"word\": \"d\"}], \"yps\": [{\"url\": \"http://yp.example/\"}]}");
        chosenFile = QString::fromStdString(folder.File("in.json"));
        Child<QPushButton>(dialog, "favButtonImport")->click();
        QCOMPARE(Texts(Child<QListWidget>(dialog, "favListBox")), QStringList({U("a"), U("b"), U("c"), U("d")}));
        QVERIFY2(told.last().contains(U("1 件を追加しました（1 件は登録済みのため省きました）")),
                 qPrintable(told.last()));
        QVERIFY2(told.last().contains(U("YP 1 件は読み込んでいません")), qPrintable(told.last()));

        mode = ImportMode::Replace;
        Child<QPushButton>(dialog, "favButtonImport")->click();
        QCOMPARE(Texts(Child<QListWidget>(dialog, "favListBox")), QStringList({U("b"), U("d")}));
        QCOMPARE(favorites.Count(), 2);

        // A file with a fault changes nothing and says where.
        WriteFile(folder.File("in.json"),
                  "{\"version\": 1, \"favorites\": [{\"title\": \"e\", \"enabled\": \"yes\"}]}");
        Child<QPushButton>(dialog, "favButtonImport")->click();
        QCOMPARE(favorites.Count(), 2);
        QVERIFY2(told.last().contains(QStringLiteral("favorites[0].enabled: expected true or false")),
                 qPrintable(told.last()));
        SetProgramFolder({});
    }

    // The settings dialog's YP page exports both lists and imports a file into its copy.
    void ypPageExportsAndImports()
    {
        TempFolder folder;
        SetProgramFolder(folder.Path());
        WriteFile(folder.File("kavo.ini"), "[YP]\nTitle0=one\nUrl0=http://one/\n[Favorite]\nTitle0=f\nWord0=x\n");
        std::filesystem::copy(std::filesystem::path(KAVO_TEST_DATA) / ".." / ".." / "data" / "icons",
                              folder.File("icons"));
        TkavoSetting setting;
        setting.Load();
        TkavoCommon common(setting, CommonPaths{folder.Path(), "kavo", folder.File("kavo.ini")}, nullptr);
        TkavoConfig dialog(setting, common);
        QStringList told;
        QString file = QString::fromStdString(folder.File("out.json"));
        dialog.RulesFiles.ChooseFile = [&](QWidget*, bool) { return file; };
        dialog.RulesFiles.AskMode = [](QWidget*) { return std::optional<ImportMode>(ImportMode::Replace); };
        dialog.RulesFiles.Tell = [&](QWidget*, const QString& text, bool) { told.append(text); };

        Child<QPushButton>(dialog, "ypButtonExport")->click();
        QCOMPARE(ReadFile(folder.File("out.json")), RulesText(RulesOf(setting)));

        WriteFile(folder.File("in.json"), "{\"version\": 1, \"yps\": [{\"title\": \"two\", \"url\": \"http://two/\"}, "
                                          "{\"title\": \"three\", \"url\": \"http://three/\"}]}");
        file = QString::fromStdString(folder.File("in.json"));
        Child<QPushButton>(dialog, "ypButtonImport")->click();
        QCOMPARE(Texts(Child<QListWidget>(dialog, "ypListBox")), QStringList({U("two"), U("three")}));
        QCOMPARE(setting.Favorites.Count(), 1); // the file has no favorites
        QVERIFY2(told.last().contains(U("YP: 1 件を 2 件で置き換えました")), qPrintable(told.last()));
        SetProgramFolder({});
    }
};

QTEST_MAIN(RulesTest)
#include "RulesTest.moc"
