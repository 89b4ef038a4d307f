// The reference for kavo's start-up figure: the least a Qt Widgets program does to show a window.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>

#include <cstring>

namespace {

class QuitOnExpose : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(573, 447);
    QuitOnExpose quit;
    window.winId();
    window.windowHandle()->installEventFilter(&quit);
    window.show();
    return app.exec();
}
