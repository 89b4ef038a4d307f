// The program from the keyboard alone and through the accessibility interface screen readers use,
// and its colours on a dark desktop.
#include "app/Program.h"
#include "core/Color.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "support/Modal.h"
#include "support/NotifyTestSupport.h"
#include "support/TestHttpServer.h"
#include "support/TestProgram.h"
#include "ui/dialogs/ukavoConfig.h"
#include "ui/dialogs/ukavoFavorite.h"
#include "ui/dialogs/ukavoFind.h"
#include "ui/dialogs/ukavoVersion.h"
#include "ui/lists/ChannelActions.h"
#include "ui/lists/ChannelListView.h"
#include "ui/lists/ChannelViews.h"
#include "ui/lists/ReadableColors.h"
#include "ui/window/RefreshCycle.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>

using namespace kavo;
using namespace kavo::test;

namespace {

class RecordingStarter : public ProcessStarter
{
public:
    std::vector<std::string> Opened;
    StartResult Start(const Command& command, const std::string&, int) override
    {
        for (const std::string& argument : command.Arguments)
            Opened.push_back(argument);
        return {};
    }
    StartResult OpenWithDesktop(const std::string& target) override
    {
        Opened.push_back(target);
        return {};
    }
    bool Played(const std::string& id) const
    {
        for (const std::string& target : Opened)
            if (target.find(id) != std::string::npos)
                return true;
        return false;
    }
};

std::string Id(char c)
{
    return std::string(32, c);
}

// Channels named after their ID's digit, with as many listeners as the digit says.
std::string Index(std::initializer_list<std::pair<const char*, char>> channels)
{
    std::string text;
    for (const auto& [name, id] : channels)
        text += std::string(name) + "<>" + Id(id) + "<>10.0.0.1:7144<>http://example.com/<>genre<>desc<>" +
                std::string(1, id) + "<>1<>300<>WMV<><><><><>%20<>1:05<>click<><>0\r\n";
    return text;
}

class Harness : public TestProgram
{
public:
    TempFolder Folder;
    TestHttpServer Server;
    RecordingStarter Starter;

    explicit Harness(const std::string& settings)
    {
        namespace fs = std::filesystem;
        fs::create_directories(Folder.File("templates"));
        for (const char* name :
             {"notify.txt", "popup.txt", "clipboard.txt", "ie_header.html", "ie_channel.html", "ie_footer.html"})
            WriteFile(Folder.File(std::string("templates/") + name), "<channelname/>");
        fs::copy(fs::path(KAVO_TEST_DATA) / ".." / ".." / "data" / "icons", Folder.File("icons"));
        WriteFile(Folder.File("kavo.ini"), "[YP]\nEnabled0=1\nTitle0=yp\nChType0=.+\nUrl0=" + Server.Url("/yp/") +
                                               "\n[Etc]\nPeerCast=/nonexistent/peercast\n"
                                               "[Notify]\nTTS=0\nSound=0\n" +
                                               settings);
        SetProgramFolder(Folder.Path());
        Create(&Starter);
        P->Start();
        P->Show();
        QTRY_VERIFY(P->Common().Initialized);
    }
};

// A key pressed where the keyboard's focus is, as the desktop delivers it.
void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* target = QApplication::activePopupWidget();
    if (!target)
        target = QApplication::focusWidget();
    if (!target)
        target = QApplication::activeWindow();
    QVERIFY2(target, "nothing has the keyboard");
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
}

void Type(const char* text)
{
    QTest::keyClicks(QApplication::focusWidget(), QString::fromUtf8(text));
}

QString AccessibleName(QObject* object)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

// The widgets of a dialog the Tab key should reach on its current page.
QList<QWidget*> TabStops(QWidget& dialog)
{
    QList<QWidget*> stops;
    for (QWidget* w : dialog.findChildren<QWidget*>())
        if (w->isVisibleTo(&dialog) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() &&
            !qobject_cast<QMenu*>(w) && w->window() == &dialog)
            stops.append(w);
    return stops;
}

QString Describe(const QWidget* w)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(w->metaObject()->className()), w->objectName());
}

// The mnemonic letter of a caption, or 0.
QChar Mnemonic(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toUpper();
    }
    return {};
}

// Every page of a dialog: its controls are named for screen readers, its labels with a mnemonic
// lead to their control, no two visible mnemonics share a letter, and the Tab key reaches every
// control and comes back.
QStringList CheckDialog(QDialog& dialog, const char* name)
{
    QStringList problems;
    dialog.show();
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog))
        return {QLatin1String(name) + QStringLiteral(" is never active")};
    QList<QTabWidget*> tabs = dialog.findChildren<QTabWidget*>();
    std::vector<std::pair<QTabWidget*, int>> pages{{nullptr, 0}};
    for (QTabWidget* tab : tabs)
        for (int i = 0; i < tab->count(); ++i)
            pages.emplace_back(tab, i);
    for (const auto& [tab, index] : pages) {
        if (tab) {
            // Outer pages first, so that the inner tab widget is shown.
            for (QWidget* up = tab->parentWidget(); up && up != &dialog; up = up->parentWidget())
                if (auto* outer =
                        qobject_cast<QTabWidget*>(up->parentWidget() ? up->parentWidget()->parentWidget() : nullptr))
                    outer->setCurrentWidget(up);
            tab->setCurrentIndex(index);
            if (!tab->isVisibleTo(&dialog))
                continue;
        }
        const QString where =
            QStringLiteral("%1, page %2").arg(QLatin1String(name)).arg(tab ? tab->tabText(index) : QString());
        std::map<QChar, QString> letters;
        for (QWidget* w : dialog.findChildren<QWidget*>()) {
            if (!w->isVisibleTo(&dialog) || w->window() != &dialog)
                continue;
            QString caption;
            if (auto* label = qobject_cast<QLabel*>(w)) {
                caption = label->text();
                if (!Mnemonic(caption).isNull() && !label->buddy())
                    problems << where + QStringLiteral(": ") + caption + QStringLiteral(" has no buddy");
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                caption = button->text();
            } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
                caption = group->title();
            }
            const QChar letter = Mnemonic(caption);
            if (!letter.isNull()) {
                if (letters.contains(letter))
                    problems << where + QStringLiteral(": ") + caption + QStringLiteral(" and ") + letters[letter];
                letters[letter] = caption;
            }
        }
        const QList<QWidget*> stops = TabStops(dialog);
        for (QWidget* w : stops)
            if (AccessibleName(w).trimmed().isEmpty())
                problems << where + QStringLiteral(": unnamed ") + Describe(w);
        if (stops.isEmpty())
            continue;
        stops.front()->setFocus(Qt::TabFocusReason);
        std::set<QWidget*> reached;
        for (int i = 0; i < stops.size() * 2 + 4 && reached.size() < static_cast<std::size_t>(stops.size()); ++i) {
            reached.insert(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        for (QWidget* w : stops)
            if (!reached.contains(w))
                problems << where + QStringLiteral(": Tab never reaches ") + Describe(w);
    }
    dialog.hide();
    return problems;
}

} // namespace

class KeyboardAccessTest : public QObject
{
    Q_OBJECT

private slots:
    // From the start to a found channel playing, with keys only: F5 refreshes, typing finds a
    // channel in the list, Enter plays it, Ctrl+F searches with the found channels moved up, and
    // Shift+F10 opens the channel's menu whose 視聴(&P) plays.
    void keysOnlyFromStartToFindToPlay()
    {
        Harness h("[Operation]\nKeyF5Refresh=1\nKeyEnterChOpen=1\n");
        h.Server.Route("/yp/index.txt", HttpReply::Ok(Index({{"alpha", '1'}, {"beta", '2'}, {"gamma", '3'}})));
        TkavoMain& window = h.Main();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);
        Press(Qt::Key_F5);
        QVERIFY(finished.wait(20000));
        QTRY_COMPARE(QApplication::focusWidget(), h.ListViewNow());

        Type("gam");
        QCOMPARE(h.ListViewNow()->SelectedChannel()->ChannelName, std::string("gamma"));
        Press(Qt::Key_Return);
        QVERIFY(h.Starter.Played(Id('3')));

        // The search, with its mnemonic Alt+X "検索結果を上位に移動する(&X)" ticked.
        const auto search = [](QWidget*) {
            Type("beta");
            Press(Qt::Key_X, Qt::AltModifier);
            // A mnemonic clicks its button as a short animation.
            for (QAbstractButton* box : QApplication::activeModalWidget()->findChildren<QAbstractButton*>())
                if (box->text().contains(QStringLiteral("(&X)")))
                    QTRY_VERIFY(box->isChecked());
            Press(Qt::Key_Return);
        };
        WhenModal(search, ModalReady::HasKeyboard);
        Press(Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        // What the window manager does when a dialog closes.
        window.activateWindow();
        QTRY_COMPARE(QApplication::focusWidget(), h.ListViewNow());
        Press(Qt::Key_Home);
        QCOMPARE(h.ListViewNow()->SelectedChannel()->ChannelName, std::string("beta"));
        Press(Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QCOMPARE(QApplication::activePopupWidget(), h.P->Window().Channels().PopupMenuListItem());
        Press(Qt::Key_P);
        QTRY_VERIFY(h.Starter.Played(Id('2')));
    }

    // Type-to-find: a name's beginning first, else a part of it; the same letter again steps on.
    void typingFindsChannels_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("selected");
        QTest::newRow("beginning") << QStringLiteral("br") << QStringLiteral("bravo");
        QTest::newRow("any case") << QStringLiteral("GA") << QStringLiteral("gamma");
        QTest::newRow("part of the name") << QStringLiteral("mm") << QStringLiteral("gamma");
        QTest::newRow("the same letter steps on") << QStringLiteral("bb") << QStringLiteral("bravo");
        QTest::newRow("nothing found keeps the row") << QStringLiteral("zz") << QStringLiteral("alpha");
    }
    void typingFindsChannels()
    {
        QFETCH(QString, typed);
        QFETCH(QString, selected);
        TkavoChList list;
        for (const char* name : {"alpha", "beta", "bravo", "gamma"}) {
            auto& channel = list.Add(std::make_unique<TkavoChItem>());
            channel.ChannelName = name;
            channel.Hash = Id(name[0]);
        }
        auto* model = new ChannelModel(nullptr, nullptr);
        ChannelListView view(QStringLiteral("ListViewNow"), model);
        model->setParent(&view);
        model->SetColumns({"!", Sjis("チャンネル名")});
        model->Fill(list);
        view.show();
        view.SelectRow(0);
        view.setFocus();
        QTest::keyClicks(&view, typed);
        QCOMPARE(QString::fromStdString(view.SelectedChannel()->ChannelName), selected);
    }

    // A screen reader hears each row's mark, name, genre and listeners, and every tool button's
    // name.
    void screenReadersHearRowsAndButtons()
    {
        Harness h("");
        h.Server.Route("/yp/index.txt", HttpReply::Ok(Index({{"alpha", '7'}})));
        QSignalSpy finished(&h.Refreshes(), &RefreshCycle::CycleFinished);
        h.Refreshes().Refresh();
        QVERIFY(finished.wait(20000));
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(h.ListViewNow());
        QVERIFY(list && list->tableInterface());
        // As the screen reader asks: once the rows are laid out on screen.
        QTRY_VERIFY(list->tableInterface()->rowCount() > 0);
        QAccessibleInterface* cell = list->tableInterface()->cellAt(0, 0);
        QVERIFY(cell);
        QCOMPARE(cell->text(QAccessible::Name), QString::fromUtf8("変化なし、alpha、genre、リスナー 7"));

        const QList<QToolButton*> buttons = h.Main().findChildren<QToolButton*>();
        QVERIFY(!buttons.isEmpty());
        for (QToolButton* button : buttons)
            if (button->isVisibleTo(&h.Main()))
                QVERIFY2(!AccessibleName(button).isEmpty(), qPrintable(Describe(button)));
    }

    // Every dialog, page by page: named controls, working mnemonics and a Tab order that reaches
    // everything.
    void dialogsWorkFromTheKeyboard()
    {
        NotifyCommonFixture fixture;
        TkavoSetting setting = fixture.Settings;
        QStringList problems;
        setting.YpList.Add(std::make_unique<TkavoYpItem>()).Title = "yp";
        {
            TkavoConfig config(setting, *fixture.Common);
            problems << CheckDialog(config, "TkavoConfig");
        }
        {
            TkavoChList onAir;
            TkavoFavorite favorite(setting.Favorites, *fixture.Common, onAir, QApplication::font());
            problems << CheckDialog(favorite, "TkavoFavorite");
        }
        {
            FindState state;
            TkavoFind find(state, *fixture.Common);
            problems << CheckDialog(find, "TkavoFind");
        }
        {
            TkavoVersion version(QApplication::font());
            problems << CheckDialog(version, "TkavoVersion");
        }
        problems.removeDuplicates();
        for (const QString& problem : problems)
            qWarning("%s", qPrintable(problem));
        QVERIFY2(problems.isEmpty(), "see the warnings above");
    }

    // The default colours of the lists, links and favourites stay readable on a light and on a
    // dark desktop.
    void defaultColoursAreReadable_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void defaultColoursAreReadable()
    {
        QFETCH(bool, dark);
        const QPalette before = QApplication::palette();
        if (dark) {
            QPalette palette;
            palette.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
            palette.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
            palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
            palette.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
            palette.setColor(QPalette::Highlight, QColor(0x2a, 0x6f, 0xb0));
            palette.setColor(QPalette::HighlightedText, Qt::white);
            QApplication::setPalette(palette);
        }
        struct Row
        {
            const char* Name;
            std::function<void(TkavoChItem&)> Set;
            int Column;
        };
        const std::vector<Row> rows = {
            {"plain text", [](TkavoChItem&) {}, 2},
            {"link", [](TkavoChItem& c) { c.ContactURL = "http://example.com/"; }, 1},
            {"visited link",
             [](TkavoChItem& c) {
                 c.ContactURL = "http://example.com/";
                 c.Visited = true;
             },
             1},
            {"favourite background, no text colour",
             [](TkavoChItem& c) {
                 c.ColorEnabled = true;
                 c.Color = 0xC8ECFF; // a light orange of the favourites' palette
             },
             2},
            {"favourite default text colour",
             [](TkavoChItem& c) {
                 c.ColorTextEnabled = true;
                 c.ColorText = clWindowText;
             },
             2},
        };
        TkavoChList list;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            auto& channel = list.Add(std::make_unique<TkavoChItem>());
            channel.ChannelName = rows[i].Name;
            channel.Hash = Id(static_cast<char>('a' + i));
            rows[i].Set(channel);
        }
        auto* model = new ChannelModel(nullptr, nullptr);
        ChannelListView view(QStringLiteral("ListViewNow"), model);
        model->setParent(&view);
        model->SetColumns({"!", Sjis("チャンネル名"), Sjis("詳細")});
        model->Fill(list);
        view.ApplyListLook(TkavoSetting::ColorFontOptions(), FontSetting());
        auto* delegate = static_cast<ChannelDelegate*>(view.itemDelegate());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            QStyleOptionViewItem option;
            option.initFrom(&view);
            option.widget = &view;
            const QModelIndex index = model->index(static_cast<int>(i), rows[i].Column);
            const QStyleOptionViewItem cell = delegate->CellOption(option, index);
            const QColor background = cell.backgroundBrush.style() != Qt::NoBrush
                                          ? cell.backgroundBrush.color()
                                          : view.palette().color(QPalette::Base);
            const double ratio = ContrastRatio(cell.palette.color(QPalette::Text), background);
            QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(rows[i].Name)).arg(ratio)));
        }
        QApplication::setPalette(before);
    }
};

QTEST_MAIN(KeyboardAccessTest)

#include "KeyboardAccessTest.moc"
