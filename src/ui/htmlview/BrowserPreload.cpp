#include "ui/htmlview/BrowserPreload.h"

#include "ui/htmlview/HtmlView.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QWidget>

namespace kavo {

BrowserPreload::BrowserPreload(const QWidget& window, std::function<bool()> mayStart, std::function<void()> prepare,
                               QObject* parent)
    : QObject(parent), m_window(window), m_mayStart(std::move(mayStart)), m_prepare(std::move(prepare))
{
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
}

BrowserPreload::~BrowserPreload()
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
    QCoreApplication::instance()->removeEventFilter(this);
}

void BrowserPreload::Start()
{
    if (m_stage != Stage::Idle)
        return;
    if (!HtmlViewModuleFound()) {
        finish();
        return;
    }
    m_stage = Stage::Waiting;
    m_sinceInput.start();
    QCoreApplication::instance()->installEventFilter(this);
    m_timer.start();
}

bool BrowserPreload::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        m_sinceInput.restart();
        break;
    default:
        break;
    }
    return false;
}

bool BrowserPreload::quiet() const
{
    return m_window.isVisible() && !m_window.isMinimized() && m_sinceInput.elapsed() >= QuietMs && m_mayStart();
}

void BrowserPreload::tick()
{
    switch (m_stage) {
    case Stage::Waiting:
        if (!quiet())
            return;
        m_stage = Stage::Loading;
        m_thread = QThread::create([] {
            QString error;
            LoadHtmlViewModule(error);
        });
        m_thread->setObjectName(QStringLiteral("BrowserPreload"));
        connect(m_thread, &QThread::finished, this, [this] { m_stage = Stage::Loaded; });
        m_thread->start(QThread::LowPriority);
        return;
    case Stage::Loaded:
        if (!quiet())
            return;
        m_prepare();
        finish();
        return;
    case Stage::Idle:
    case Stage::Loading:
    case Stage::Done:
        return;
    }
}

void BrowserPreload::finish()
{
    m_stage = Stage::Done;
    m_timer.stop();
    QCoreApplication::instance()->removeEventFilter(this);
    emit Done();
}

} // namespace kavo
