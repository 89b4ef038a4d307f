// The windows "YPの状態" and "放送履歴" over a history written by the store itself.
#include "history/HistoryStore.h"
#include "platform/Cp932.h"
#include "settings/SettingsTestSupport.h"
#include "settings/TkavoSetting.h"
#include "ui/dialogs/BroadcastHistoryWindow.h"
#include "ui/dialogs/YpStatusWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>
#include <optional>

using namespace kavo;
using namespace kavo::test;

namespace {

constexpr DateTime Start = 45000.5;

// One turn of a YP: the channels of a fetch, or nullopt for a failure.
void Turn(HistoryStore& history, const std::string& url, DateTime time,
          std::optional<std::vector<std::string>> channels)
{
    TkavoChList list;
    RetrievalRecord record;
    record.Time = time;
    YpAttempt& a = record.Attempts.emplace_back();
    a.Url = url;
    a.Title = url;
    a.Time = time;
    a.Outcome = channels ? YpOutcome::Fetched : YpOutcome::Failed;
    a.HttpStatus = channels ? 200 : 503;
    a.Error = url + "\r\n" + Sjis("ダウンロードエラー") + "\r\n" + Sjis("詳細：") + "HTTP/1.1 503 Busy";
    for (const std::string& name : channels.value_or(std::vector<std::string>{})) {
        auto& c = list.Add(std::make_unique<TkavoChItem>());
        c.ChannelName = name;
        char id[40];
        std::snprintf(id, sizeof id, "%032zX", std::hash<std::string>{}(name));
        c.Hash = id;
        c.Genre = "genre";
    }
    a.ChList = &list;
    a.Channels = list.Count();
    history.Record(record);
    history.Flush();
}

} // namespace

class HistoryWindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { SetClock(std::make_shared<ManualClock>(Start + 0.5)); }
    void cleanup() { SetClock(nullptr); }

    // A failing YP in red with its turns in the tip; a disabled one says so.
    void ypStatusRows()
    {
        TempFolder folder;
        HistoryStore history(folder.File("history.sqlite"));
        Turn(history, "http://good/", Start, std::vector<std::string>{"a", "b"});
        Turn(history, "http://bad/", Start, std::vector<std::string>{"c"});
        Turn(history, "http://bad/", Start + 0.1, std::nullopt);
        Turn(history, "http://bad/", Start + 0.2, std::nullopt);
        TkavoSetting setting;
        for (const char* url : {"http://good/", "http://bad/", "http://off/"}) {
            auto& yp = setting.YpList.Add(std::make_unique<TkavoYpItem>());
            yp.Url = url;
            yp.Title = url;
            yp.Enabled = std::string(url) != "http://off/";
        }
        YpStatusWindow window(history, setting);
        QTreeWidget* list = window.List();
        QCOMPARE(list->topLevelItemCount(), 3);
        const QTreeWidgetItem* good = list->topLevelItem(0);
        const QTreeWidgetItem* bad = list->topLevelItem(1);
        QCOMPARE(good->text(YpStatusWindow::ColumnChannels), QStringLiteral("2"));
        QCOMPARE(good->text(YpStatusWindow::ColumnLastSuccess), QString::fromUtf8("12時間前"));
        QVERIFY(good->foreground(0).color() != QColor(Qt::red));
        QCOMPARE(bad->text(YpStatusWindow::ColumnResult), QString::fromUtf8("失敗 (HTTP 503)"));
        QCOMPARE(bad->text(YpStatusWindow::ColumnFailures), QStringLiteral("2"));
        QCOMPARE(bad->foreground(YpStatusWindow::ColumnYp).color(), QColor(Qt::red));
        const QStringList tip = bad->toolTip(0).split(QLatin1Char('\n'));
        QCOMPARE(tip.size(), 4); // the URL, then the three turns, newest first
        QVERIFY(tip[1].contains(QStringLiteral("HTTP/1.1 503 Busy")));
        QVERIFY(tip[3].contains(QString::fromUtf8("取得")));
        QCOMPARE(list->topLevelItem(2)->text(YpStatusWindow::ColumnResult), QString::fromUtf8("無効"));
    }

    // Newest first a page at a time, the find's matching, and the chart of the selected name.
    void broadcastsSearchAndChart()
    {
        TempFolder folder;
        HistoryStore history(folder.File("history.sqlite"));
        Turn(history, "http://yp/", Start - 2, std::vector<std::string>{"news"});
        Turn(history, "http://yp/", Start - 1.9, std::vector<std::string>{});
        std::vector<std::string> many;
        for (int i = 0; i < 250; ++i)
            many.push_back("ch" + std::to_string(i));
        many.push_back("news");
        Turn(history, "http://yp/", Start, many);

        BroadcastHistoryWindow window(history);
        auto* label = window.findChild<QLabel*>(QStringLiteral("LabelSearch"));
        QVERIFY(label && label->buddy() == window.SearchBox()); // "&S" is a mnemonic, not text
        BroadcastHistoryModel& model = window.Model();
        QCOMPARE(model.rowCount(), static_cast<int>(BroadcastHistoryModel::PageSize));
        QVERIFY(model.canFetchMore({}));
        model.fetchMore({});
        QCOMPARE(model.rowCount(), 252); // news twice: it was missing from one fetch in between
        QVERIFY(!model.canFetchMore({}));

        window.SearchBox()->setText(QStringLiteral("NEWS ch7\\["));
        window.Search();
        QStringList names;
        for (int row = 0; row < model.rowCount(); ++row)
            names << QString::fromStdString(model.Row(row).ChannelName);
        QCOMPARE(names, (QStringList{QStringLiteral("news"), QStringLiteral("ch7"), QStringLiteral("news")}));

        window.View()->setCurrentIndex(model.index(0, 0));
        const auto& times = window.Chart()->Times();
        QCOMPARE(times.size(), std::size_t{2});
        QCOMPARE(times[0].first, Start - 2);
        QCOMPARE(times[0].second, Start - 2);
    }
};

QTEST_MAIN(HistoryWindowsTest)
#include "HistoryWindowsTest.moc"
