// How much the notification manager costs a program that sits in the tray with nothing to show.
// Prints the process's CPU time and thread wake-ups over an idle spell (KAVO_IDLE_SECONDS, default
// 60); the figures are reported, not asserted, as they depend on the machine.
#include "platform/Cp932.h"
#include "support/NotifyTestSupport.h"
#include "ui/notify/ukavoNotifyMgr.h"

#include <QDir>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace kavo;
using namespace kavo::test;

namespace {

struct Usage
{
    double CpuMs = 0;         // the process's CPU time, all threads
    long StatTicks = 0;       // utime + stime of /proc/self/stat
    long ContextSwitches = 0; // voluntary and involuntary, all threads
};

long StatTicks()
{
    std::ifstream in("/proc/self/stat");
    std::string line;
    std::getline(in, line);
    // Fields after the command name, which is in parentheses and may hold blanks.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stol(field);
        if (index == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

long ContextSwitches()
{
    long total = 0;
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        std::ifstream in("/proc/self/task/" + task.toStdString() + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::stol(line.substr(line.find(':') + 1));
    }
    return total;
}

Usage Measure()
{
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return {cpu.tv_sec * 1000.0 + cpu.tv_nsec / 1e6, StatTicks(), ContextSwitches()};
}

} // namespace

class NotifyIdleTest : public QObject
{
    Q_OBJECT

private slots:
    void idleManagerStaysAsleep()
    {
        NotifyCommonFixture fixture;
        auto& notify = fixture.Settings.Notify;
        notify.BallonTimer = "1";
        notify.Sound = false;                                  // no sound server is needed for the figure
        TkavoNotifyMgr mgr(fixture.Settings, *fixture.Common); // the desktop's own tray, players and speech
        mgr.ApplyTimers();
        mgr.ApplyTray();

        // One notification passes first, so the idle spell starts where a real one would.
        QSignalSpy finish(&mgr, &TkavoNotifyMgr::OnNotifyFinish);
        TkavoNotifyItem item;
        item.Title = notify.Title;
        item.Text = Sjis("更新完了");
        item.Kind = 2;
        mgr.Notify(item, false);
        QTRY_COMPARE_WITH_TIMEOUT(finish.count(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!mgr.findChild<QTimer*>(QStringLiteral("TimerQueueCheck"))->isActive(), 2000);
        QVERIFY(!mgr.findChild<QTimer*>(QStringLiteral("TimerBallon"))->isActive());

        const int seconds =
            qEnvironmentVariableIsSet("KAVO_IDLE_SECONDS") ? qEnvironmentVariableIntValue("KAVO_IDLE_SECONDS") : 60;
        const Usage before = Measure();
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const Usage after = Measure();

        std::printf("idle notification manager, %d s with an empty queue: CPU %.2f ms (clock), %ld ticks of "
                    "1/%ld s (/proc/self/stat), %ld context switches (all threads)\n",
                    seconds, after.CpuMs - before.CpuMs, after.StatTicks - before.StatTicks, sysconf(_SC_CLK_TCK),
                    after.ContextSwitches - before.ContextSwitches);
        std::fflush(stdout);
        QCOMPARE(mgr.Count(), 0);
    }
};

QTEST_MAIN(NotifyIdleTest)
#include "NotifyIdleTest.moc"
