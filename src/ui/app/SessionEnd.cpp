#include "ui/app/SessionEnd.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kavo {

namespace {

// The self-pipe: the handler only writes a byte, the event loop does the rest.
int g_pipe[2] = {-1, -1};
constexpr std::array<int, 2> EndSignals = {SIGTERM, SIGINT};
std::array<struct sigaction, EndSignals.size()> g_previous{};

void OnEndSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SessionEnd::SessionEnd(QWidget& window, QObject* parent) : QObject(parent), m_window(&window)
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SessionEnd::signalArrived);
        for (std::size_t i = 0; i < EndSignals.size(); ++i) {
            struct sigaction action
            {};
            action.sa_handler = &OnEndSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            sigaction(EndSignals[i], &action, &g_previous[i]);
        }
    }
    // The session manager asks the program to save before the session ends; ending the way a
    // close does saves what a close saves.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { End(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { End(); });
}

SessionEnd::~SessionEnd()
{
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < EndSignals.size(); ++i)
        sigaction(EndSignals[i], &g_previous[i], nullptr);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void SessionEnd::signalArrived()
{
    char bytes[16];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    End();
}

void SessionEnd::End()
{
    if (m_ended || !m_window)
        return;
    m_ended = true;
    m_window->close();
}

} // namespace kavo
