// The window "いつもの配信" over a history recorded through the store, and kavo-list's report of
// the same file.
#include "ui/dialogs/RegularsWindow.h"
#include "history/RegularsFixture.h"
#include "settings/SettingsTestSupport.h"

#include <QComboBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

using namespace kavo;
using namespace kavo::test;

class RegularsWindowTest : public QObject
{
    Q_OBJECT

private:
    static QStringList Texts(const RegularsModel& model, int row)
    {
        QStringList texts;
        for (int column = 0; column < RegularsModel::ColumnCount; ++column)
            texts << model.data(model.index(row, column), Qt::DisplayRole).toString();
        return texts;
    }
    static bool Load(RegularsWindow& window, QSignalSpy& loaded) { return loaded.wait(10000) && !window.Busy(); }

private slots:
    void cleanup() { SetClock(nullptr); }

    // The hour picked, the reading off the main thread, "まだ" from exactly half an hour after the
    // usual start, and what a double click does.
    void pickerLateAndDoubleClick()
    {
        TempFolder folder;
        HistoryStore history(folder.File("history.sqlite"));
        QCOMPARE(QString::fromStdString(RegularsFixture::Seed(history)), QString());
        auto clock = std::make_shared<ManualClock>(RegularsFixture::Now);
        SetClock(clock);
        std::vector<std::string> played;
        std::vector<std::string> opened;
        RegularsWindow::Handlers handlers;
        handlers.Play = [&](const std::string& name) {
            played.push_back(name);
            return true;
        };
        handlers.OpenHistory = [&](const std::string& name) { opened.push_back(name); };
        RegularsWindow window(history, 4, 2, handlers);
        QSignalSpy loaded(&window, &RegularsWindow::Loaded);
        window.show();
        QVERIFY(window.Busy()); // the model waits for the reader
        QCOMPARE(window.Model().rowCount(), 0);
        QVERIFY(Load(window, loaded));
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.DayBox()->currentIndex(), 5);
        QCOMPARE(window.HourBox()->currentIndex(), 21);
        const RegularsModel& model = window.Model();
        QCOMPARE(model.rowCount(), 3);

        const auto stateOf = [&](const char* name) {
            for (int row = 0; row < model.rowCount(); ++row)
                if (model.Row(row).ChannelName == name)
                    return Texts(model, row)[RegularsModel::ColumnState];
            return QStringLiteral("(none)");
        };
        QCOMPARE(stateOf("nowon"), QString::fromUtf8("放送中"));
        QCOMPARE(stateOf("friday"), QString());
        clock->Set(RegularsFixture::Friday + (21 * 60 + 35) / MinutesPerDay - 1 / SecondsPerDay);
        window.Reload();
        QVERIFY(Load(window, loaded));
        QCOMPARE(stateOf("friday"), QString());
        clock->Set(RegularsFixture::Friday + (21 * 60 + 35) / MinutesPerDay);
        window.Reload();
        QVERIFY(Load(window, loaded));
        QCOMPARE(stateOf("friday"), QString::fromUtf8("まだ"));

        // On air: played; not on air: its history. (A double click activates the row.)
        for (const char* name : {"nowon", "friday"}) {
            int row = 0;
            while (model.Row(row).ChannelName != name)
                ++row;
            emit window.View()->activated(model.index(row, RegularsModel::ColumnChannelName));
        }
        QCOMPARE(played, std::vector<std::string>{"nowon"});
        QCOMPARE(opened, std::vector<std::string>{"friday"});

        // Wednesday 21:00: its one week is not enough.
        window.DayBox()->setCurrentIndex(3);
        QVERIFY(Load(window, loaded));
        QCOMPARE(window.At(), (std::optional<WeekTime>(WeekTime{3, 21 * 60})));
        QCOMPARE(model.rowCount(), 0);
    }

    // kavo-list --regulars --at prints what the window shows for the same file and hour.
    void kavoListAgreesWithTheWindow()
    {
        TempFolder folder;
        {
            HistoryStore history(folder.File("history.sqlite"));
            const DateTime friday = std::floor(RegularsMoment({5, 21 * 60}, Now()));
            QCOMPARE(QString::fromStdString(RegularsFixture::Seed(history, friday)), QString());
        }
        HistoryStore history(folder.File("history.sqlite"));
        RegularsWindow window(history, 4, 2, {});
        QSignalSpy loaded(&window, &RegularsWindow::Loaded);
        window.SetAt(WeekTime{5, 21 * 60});
        QVERIFY(Load(window, loaded));

        QProcess list;
        list.start(QStringLiteral(KAVO_LIST_PATH),
                   {QStringLiteral("--home"), QString::fromStdString(folder.Path()), QStringLiteral("--regulars"),
                    QStringLiteral("--at"), QStringLiteral("Fri 21:00"), QStringLiteral("--format"),
                    QStringLiteral("tsv")});
        QVERIFY(list.waitForFinished(30000));
        QCOMPARE(list.exitCode(), 0);
        QStringList lines = QString::fromUtf8(list.readAllStandardOutput()).split(QLatin1Char('\n'));
        lines.removeAll(QString());
        const RegularsModel& model = window.Model();
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(lines.size(), model.rowCount() + 1);
        for (int row = 0; row < model.rowCount(); ++row) {
            // ChannelName Weeks OfWeeks UsualStart UsualLength OnAir Late Genre
            const QStringList cells = lines[row + 1].split(QLatin1Char('\t'));
            const QStringList shown = Texts(model, row);
            QCOMPARE(cells[0], shown[RegularsModel::ColumnChannelName]);
            QCOMPARE(cells[1] + QLatin1Char('/') + cells[2], shown[RegularsModel::ColumnWeeks]);
            QCOMPARE(cells[3].mid(11, 5), shown[RegularsModel::ColumnStart]);
            QCOMPARE(cells[4], shown[RegularsModel::ColumnLength]);
            const Regular& r = model.Row(row);
            QCOMPARE(cells[5], QString::number(r.OnAir));
            QCOMPARE(cells[6], QString::number(r.Late));
            QCOMPARE(cells[7], shown[RegularsModel::ColumnGenre]);
        }
    }
};

QTEST_MAIN(RegularsWindowTest)
#include "RegularsWindowTest.moc"
