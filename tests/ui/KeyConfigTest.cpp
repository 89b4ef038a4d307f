// The shortcut store: the text form of shortcuts, KeyConfig.ini, and the application commands.
#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "settings/IniFile.h"
#include "ui/keys/ShortCutText.h"
#include "ui/keys/uActionListKeyConfigMgr.h"

#include <QAction>
#include <QFile>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <map>
#include <stdexcept>

using namespace kavo;

namespace {

QKeySequence Keys(QKeyCombination key)
{
    return QKeySequence(key);
}

void WriteBytes(const QString& path, const std::string& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string ReadBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

// A window with named actions and a store over them in a private program folder, as the main
// window sets it up.
struct Window
{
    QTemporaryDir Folder;
    QWidget Widget;
    QList<QAction*> Actions;
    TActionListKeyConfigMgr* Store;
    std::map<QString, int> Triggered;

    Window()
    {
        SetProgramFolder(Folder.path().toStdString());
        Store = new TActionListKeyConfigMgr(&Widget);
        Store->SetActive(true);
        Store->SetIniLocationExePath(true);
    }
    ~Window() { SetProgramFolder(""); }

    QAction* Add(const char* name, const QString& caption, const QKeySequence& shortcut = {})
    {
        auto* action = new QAction(caption, &Widget);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(shortcut);
        QObject::connect(action, &QAction::triggered, [this, name] { ++Triggered[QString::fromLatin1(name)]; });
        Widget.addAction(action);
        Actions.append(action);
        Store->SetActionList(Actions);
        return action;
    }
    QString File() const { return Folder.filePath(QStringLiteral("KeyConfig.ini")); }
};

// Counts the keys and clicks that reach it.
class InputSink : public QWidget
{
public:
    using QWidget::QWidget;
    int Keys = 0;
    int Clicks = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        ++Keys;
        event->ignore();
    }
    void mousePressEvent(QMouseEvent*) override { ++Clicks; }
    void mouseDoubleClickEvent(QMouseEvent*) override { ++Clicks; }
    void mouseReleaseEvent(QMouseEvent*) override { ++Clicks; }
};

} // namespace

class KeyConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void parsesValuesOfTheFile_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::addColumn<QString>("written"); // as saving writes it back

        const auto row = [](const char* value, QKeySequence shortcut, const char* written) {
            QTest::newRow(value) << QString::fromUtf8(value) << shortcut << QString::fromUtf8(written);
        };
        row("Ctrl+F", Keys(Qt::CTRL | Qt::Key_F), "Ctrl+F");
        row("Shift+Ctrl+Alt+Del", Keys(Qt::SHIFT | Qt::CTRL | Qt::ALT | Qt::Key_Delete), "Shift+Ctrl+Alt+Del");
        row("alt+ctrl+shift+pgdn", Keys(Qt::SHIFT | Qt::CTRL | Qt::ALT | Qt::Key_PageDown), "Shift+Ctrl+Alt+PgDn");
        row("ctrl+f", Keys(Qt::CTRL | Qt::Key_F), "Ctrl+F");
        row("^F", Keys(Qt::CTRL | Qt::Key_F), "Ctrl+F");
        row("Ctrl+Ctrl+F", Keys(Qt::CTRL | Qt::Key_F), "Ctrl+F");
        row("BkSp", Keys(Qt::Key_Backspace), "BkSp");
        row("Shift+Tab", Keys(Qt::SHIFT | Qt::Key_Tab), "Shift+Tab");
        row("Enter", Keys(Qt::Key_Return), "Enter");
        row("Esc", Keys(Qt::Key_Escape), "Esc");
        row("Space", Keys(Qt::Key_Space), "Space");
        row("PgUp", Keys(Qt::Key_PageUp), "PgUp");
        row("END", Keys(Qt::Key_End), "End");
        row("Home", Keys(Qt::Key_Home), "Home");
        row("Alt+Left", Keys(Qt::ALT | Qt::Key_Left), "Alt+Left");
        row("Up", Keys(Qt::Key_Up), "Up");
        row("Right", Keys(Qt::Key_Right), "Right");
        row("Down", Keys(Qt::Key_Down), "Down");
        row("Ins", Keys(Qt::Key_Insert), "Ins");
        row("F5", Keys(Qt::Key_F5), "F5");
        row("Ctrl+F24", Keys(Qt::CTRL | Qt::Key_F24), "Ctrl+F24");
        // The digit key, not the number pad's, which has the same name.
        row("5", Keys(Qt::Key_5), "5");
        row("Ctrl+0", Keys(Qt::CTRL | Qt::Key_0), "Ctrl+0");
        // Keys outside the fixed names go by Qt's names.
        row("Refresh", Keys(Qt::Key_Refresh), "Refresh");
        row("Ctrl+Num+*", Keys(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Asterisk)),
            "Ctrl+Num+*");
        // Qt's names of keys that have a code read as that code's key, as they are written.
        row("Alt+Num+Enter", Keys(Qt::ALT | Qt::Key_Return), "Alt+Enter");
        row("Num+Left", Keys(Qt::Key_Left), "Left");
        row("Backtab", Keys(Qt::Key_Tab), "Tab");
        row("Ctrl+-", Keys(Qt::CTRL | Qt::Key_Minus), "Ctrl+-");
        row("Ctrl++", Keys(Qt::CTRL | Qt::Key_Plus), "Ctrl++");
        row("Ctrl+^", Keys(Qt::CTRL | Qt::Key_AsciiCircum), "Ctrl+^");
        row("F25", Keys(Qt::Key_F25), "F25");
        // Windows shortcut values: the virtual-key code plus 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt.
        row("16454", Keys(Qt::CTRL | Qt::Key_F), "Ctrl+F");
        row("57414", Keys(Qt::SHIFT | Qt::CTRL | Qt::ALT | Qt::Key_F), "Shift+Ctrl+Alt+F");
        row("116", Keys(Qt::Key_F5), "F5");
        row("101", Keys(QKeyCombination(Qt::KeypadModifier, Qt::Key_5)), "5");
        // Nothing: an empty value, a lone prefix, unknown names and numbers.
        row("", QKeySequence(), "");
        row("Ctrl+", QKeySequence(), "");
        row("Shift+Ctrl+", QKeySequence(), "");
        row("Ctrl+Nothing", QKeySequence(), "");
        row("0", Keys(Qt::Key_0), "0");
        row("7", Keys(Qt::Key_7), "7");
        row("65536", QKeySequence(), "");
        row("-16454", QKeySequence(), "");
        row("16384", QKeySequence(), ""); // Ctrl without a key
        row("0x4046", QKeySequence(), "");
        // Qt reads a control character after "Num+" as the keypad's key 0, which has no name.
        QTest::newRow("Num+NUL") << QStringLiteral("Num+") + QChar(0) << QKeySequence() << QString();
    }

    void parsesValuesOfTheFile()
    {
        QFETCH(QString, value);
        QFETCH(QKeySequence, shortcut);
        QFETCH(QString, written);
        QCOMPARE(ParseKeyConfigValue(value), shortcut);
        QCOMPARE(ShortCutToText(shortcut), written);
    }

    // Every key name reads back as the key that has it; only the number pad's digits share theirs.
    void everyKeyNameReadsBack()
    {
        int named = 0;
        for (int code = 8; code < 256; ++code) {
            const QString name = VirtualKeyName(code);
            const QKeyCombination key = VirtualKeyToKey(code);
            QCOMPARE(name.isEmpty(), key.key() == Qt::Key_unknown);
            if (name.isEmpty())
                continue;
            ++named;
            QCOMPARE(KeyToVirtualKey(key), code);
            const int expected = code >= 0x60 && code <= 0x69 ? code - 0x60 + '0' : code;
            const QKeySequence parsed = TextToShortCut(QStringLiteral("Shift+Ctrl+") + name);
            QVERIFY2(!parsed.isEmpty(), qPrintable(name));
            QCOMPARE(KeyToVirtualKey(parsed[0]), expected);
            QCOMPARE((parsed[0].keyboardModifiers() & ~Qt::KeypadModifier).toInt(),
                     (Qt::ShiftModifier | Qt::ControlModifier).toInt());
            QCOMPARE(ShortCutToText(parsed), QStringLiteral("Shift+Ctrl+") + name);
        }
        QVERIFY(named > 130);
    }

    // Any key Qt can name survives saving and loading, with or without a virtual-key code.
    void qtKeysSurviveTheTextForm()
    {
        QList<int> keys;
        for (int key = Qt::Key_Space; key <= Qt::Key_ydiaeresis; ++key)
            keys << key;
        for (int key = Qt::Key_Escape; key <= Qt::Key_Direction_R; ++key)
            keys << key;
        for (int key = Qt::Key_Back; key <= Qt::Key_Calendar; ++key)
            keys << key;
        // What Linux reports in place of the Windows key of the same code.
        const QList<int> aliases = {Qt::Key_Enter, Qt::Key_Backtab, Qt::Key_MediaTogglePlayPause, Qt::Key_Calculator,
                                    Qt::Key_yen};
        int checked = 0;
        for (int key : keys) {
            // Values Qt itself names as another key (lower-case letters) say nothing about ours.
            const QKeySequence plain{QKeyCombination(Qt::Key(key))};
            if (aliases.contains(key) || QKeySequence::fromString(plain.toString(QKeySequence::PortableText),
                                                                  QKeySequence::PortableText) != plain)
                continue;
            const QKeySequence shortcut(QKeyCombination(Qt::ShiftModifier | Qt::AltModifier, Qt::Key(key)));
            const QString text = ShortCutToText(shortcut);
            if (text.isEmpty())
                continue;
            ++checked;
            QVERIFY2(text.startsWith(QStringLiteral("Shift+Alt+")), qPrintable(text));
            QCOMPARE(TextToShortCut(text), shortcut);
        }
        QVERIFY(checked > 300);
    }

    void savesEveryActionAndLoadsThemBack()
    {
        Window w;
        w.Add("ActionLVFindChannel", QStringLiteral("チャンネル検索(&F)"), Keys(Qt::CTRL | Qt::Key_F));
        w.Add("ActionMainRefresh", QStringLiteral("更新(&R)"), Keys(Qt::Key_F5));
        w.Add("ActionMainNone", QStringLiteral("なし(&N)"));
        w.Add("ActionMainMany", QStringLiteral("三つ"), Keys(Qt::SHIFT | Qt::CTRL | Qt::ALT | Qt::Key_Delete));
        w.Add("ActionMainMedia", QStringLiteral("Media"), Keys(Qt::Key_VolumeUp));
        // The user's sections and whatever else the file holds stay; stale names go.
        WriteBytes(w.File(), "; mine\r\n[AppCommand]\r\n3=ActionMainRefresh\r\n\r\n[KeyConfig]\r\nActionGone=Ctrl+Q\r\n"
                             "ActionMainRefresh=F9\r\n\r\n[InputCommand]\r\n42=ActionMainNone\r\n");

        QVERIFY(w.Store->Save());
        QCOMPARE(ReadBytes(w.File()),
                 "; mine\r\n[AppCommand]\r\n3=ActionMainRefresh\r\n\r\n[KeyConfig]\r\n"
                 "ActionLVFindChannel=Ctrl+F\r\nActionMainRefresh=F5\r\nActionMainNone=\r\n"
                 "ActionMainMany=Shift+Ctrl+Alt+Del\r\nActionMainMedia=Volume Up\r\n\r\n"
                 "[InputCommand]\r\n42=ActionMainNone\r\n[Caption]\r\n" +
                     Sjis("ActionLVFindChannel=チャンネル検索(&F)\r\nActionMainRefresh=更新(&R)\r\n"
                          "ActionMainNone=なし(&N)\r\nActionMainMany=三つ\r\n") +
                     "ActionMainMedia=Media\r\n");

        QList<QKeySequence> saved;
        for (QAction* action : w.Actions) {
            saved << action->shortcut();
            action->setShortcut(Keys(Qt::Key_F12));
        }
        w.Store->Load();
        for (qsizetype i = 0; i < w.Actions.size(); ++i)
            QCOMPARE(w.Actions[i]->shortcut(), saved[i]);
        QCOMPARE(w.Store->AppCommands().Items().size(), std::size_t{1});
        QCOMPARE(w.Store->InputCommands().Find(QStringLiteral("42")), w.Actions[2]);
    }

    void loadSetsOnlyTheNamedActions()
    {
        Window w;
        QAction* find = w.Add("ActionLVFindChannel", QStringLiteral("Find"), Keys(Qt::Key_F3));
        QAction* refresh = w.Add("ActionMainRefresh", QStringLiteral("Refresh"), Keys(Qt::Key_F5));
        QAction* play = w.Add("ActionLVPlay", QStringLiteral("Play"), Keys(Qt::Key_Return));
        QAction* twin = w.Add("ActionLVFindChannel", QStringLiteral("Twin"), Keys(Qt::Key_F4));
        WriteBytes(w.File(), "[keyconfig]\r\nActionMainRefresh=\r\nActionLVFindChannel=16454\r\n"
                             "actionlvplay=Ctrl+P\r\nActionNowhere=Ctrl+N\r\n");

        w.Store->Load();
        QCOMPARE(find->shortcut(), Keys(Qt::CTRL | Qt::Key_F));
        QCOMPARE(refresh->shortcut(), QKeySequence());    // an empty value takes the shortcut away
        QCOMPARE(play->shortcut(), Keys(Qt::Key_Return)); // action names are exact
        QCOMPARE(twin->shortcut(), Keys(Qt::Key_F4));     // the first action of a name
    }

    void doesNothingWhileInactive()
    {
        Window w;
        QAction* refresh = w.Add("ActionMainRefresh", QStringLiteral("Refresh"), Keys(Qt::Key_F5));
        w.Store->SetActive(false);
        QVERIFY(!w.Store->Save());
        QVERIFY(!QFile::exists(w.File()));

        WriteBytes(w.File(), "[KeyConfig]\r\nActionMainRefresh=F9\r\n[AppCommand]\r\n3=ActionMainRefresh\r\n");
        w.Store->Load();
        QCOMPARE(refresh->shortcut(), Keys(Qt::Key_F5));
        QVERIFY(w.Store->AppCommands().Items().empty());

        w.Store->SetActive(true);
        w.Store->Load();
        w.Store->SetActive(false);
        w.Widget.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.Widget));
        QTest::keyClick(w.Widget.windowHandle(), Qt::Key_Refresh);
        QCOMPARE(w.Triggered[QStringLiteral("ActionMainRefresh")], 0);
    }

    void reportsAFileItCannotWrite()
    {
        Window w;
        w.Add("ActionMainRefresh", QStringLiteral("Refresh"), Keys(Qt::Key_F5));
        w.Store->SetIniLocationExePath(false);
        w.Store->SetIniFileName(w.Folder.filePath(QStringLiteral("missing/KeyConfig.ini")));
        QSignalSpy failed(w.Store, &TActionListKeyConfigMgr::SaveFailed);
        QVERIFY(!w.Store->Save());
        QCOMPARE(failed.count(), 1);
        QVERIFY(failed[0][0].toString().contains(QStringLiteral("missing/KeyConfig.ini")));
    }

    void appCommandsRunTheirActionsWhileTheWindowIsActive()
    {
        Window w;
        w.Add("ActionMainRefresh", QStringLiteral("Refresh"));
        w.Add("ActionTabBack", QStringLiteral("Back"));
        w.Add("ActionTabNext", QStringLiteral("Forward"));
        WriteBytes(w.File(), "[AppCommand]\r\n3=ActionMainRefresh\r\n1=ActionTabBack\r\n2=ActionNowhere\r\n"
                             "14=ActionTabNext\r\n03=ActionTabNext\r\n");
        w.Store->Load();
        QCOMPARE(w.Store->AppCommands().Items().size(), std::size_t{4}); // "03" is kept, but never matches

        auto* sink = new InputSink(&w.Widget);
        sink->setFocusPolicy(Qt::StrongFocus);
        w.Widget.resize(100, 100);
        sink->resize(100, 100);
        w.Widget.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.Widget));
        sink->setFocus();
        QWindow* window = w.Widget.windowHandle();

        QTest::keyClick(window, Qt::Key_Refresh);
        QCOMPARE(w.Triggered[QStringLiteral("ActionMainRefresh")], 1);
        QCOMPARE(sink->Keys, 0); // handled before the focused widget sees it
        QTest::keyClick(window, Qt::Key_MediaPlay);
        QCOMPARE(w.Triggered[QStringLiteral("ActionTabNext")], 1);
        QTest::mouseClick(window, Qt::BackButton, {}, QPoint(5, 5));
        QCOMPARE(w.Triggered[QStringLiteral("ActionTabBack")], 1);
        QTest::mouseDClick(window, Qt::BackButton, {}, QPoint(5, 5));
        QCOMPARE(w.Triggered[QStringLiteral("ActionTabBack")], 3);
        QCOMPARE(sink->Clicks, 0);
        // Commands without an action of theirs go on to the window as usual.
        QTest::keyClick(window, Qt::Key_Forward);
        QTest::keyClick(window, Qt::Key_Stop);
        QCOMPARE(sink->Keys, 2);
        QTest::mouseClick(window, Qt::ForwardButton, {}, QPoint(5, 5));
        QCOMPARE(sink->Clicks, 2);

        bool refuse = true;
        QList<int> seen;
        w.Store->OnAppCommand = [&](int command, bool& handled) {
            seen << command;
            handled = refuse;
        };
        QVERIFY(w.Store->HandleAppCommand(3));
        QCOMPARE(w.Triggered[QStringLiteral("ActionMainRefresh")], 1);
        refuse = false;
        QVERIFY(w.Store->HandleAppCommand(3));
        QCOMPARE(w.Triggered[QStringLiteral("ActionMainRefresh")], 2);
        w.Store->OnAppCommand = [](int, bool& handled) {
            handled = true;
            throw std::runtime_error("handler failed");
        };
        QVERIFY(w.Store->HandleAppCommand(3));
        QCOMPARE(w.Triggered[QStringLiteral("ActionMainRefresh")], 3);
        QVERIFY(!w.Store->HandleAppCommand(0));
        QCOMPARE(seen, (QList<int>{3, 3}));
        w.Store->OnAppCommand = nullptr;

        // Another window in front: the commands are not ours.
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!w.Widget.isActiveWindow());
        QVERIFY(!w.Store->HandleAppCommand(3));
        QTest::keyClick(window, Qt::Key_Refresh);
        QCOMPARE(w.Triggered[QStringLiteral("ActionMainRefresh")], 3);
    }
};

QTEST_MAIN(KeyConfigTest)
#include "KeyConfigTest.moc"
