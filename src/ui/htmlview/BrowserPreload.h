#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class QThread;
class QWidget;

namespace kavo {

// Makes the browser of the YP-style page before it is first shown, while nobody waits for the
// window: after start-up and the first refresh, once the window is shown and the user has left it
// alone for a moment. The browser's libraries load on a thread of their own; only the browser's
// start, which must, runs on the main thread.
class BrowserPreload : public QObject
{
    Q_OBJECT

public:
    // mayStart: nothing of the program's own is under way (no refresh, the first one done);
    // prepare makes the browser. Both run on the main thread.
    BrowserPreload(const QWidget& window, std::function<bool()> mayStart, std::function<void()> prepare,
                   QObject* parent = nullptr);
    // Waits for the libraries' loading, which cannot be broken off.
    ~BrowserPreload() override;

    // How long the user must have left the program alone, in milliseconds.
    static constexpr int QuietMs = 2000;

    // Start-up has ended: from now on the preload waits for its moment.
    void Start();
    bool Finished() const { return m_stage == Stage::Done; }

signals:
    // The browser was made, or cannot be.
    void Done();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Stage {
        Idle,    // not started
        Waiting, // for a quiet moment to load the libraries
        Loading, // on their thread
        Loaded,  // waiting for a quiet moment to start the browser
        Done,
    };
    void tick();
    bool quiet() const;
    void finish();

    const QWidget& m_window;
    std::function<bool()> m_mayStart;
    std::function<void()> m_prepare;
    Stage m_stage = Stage::Idle;
    QTimer m_timer;
    QElapsedTimer m_sinceInput;
    QThread* m_thread = nullptr;
};

} // namespace kavo
