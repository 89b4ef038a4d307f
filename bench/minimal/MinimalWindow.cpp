// The reference for kavo's start-up figure: the least a Qt Widgets program does to show a window.
#include <QApplication>
#include <QMainWindow>
#include <QWindow>

#include <cstdlib>

namespace {

class QuitOnExpose : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override
    {
        // Ends at once, as kavo --quit-after-show does: the figure is the time to a shown window.
        if (event->type() == QEvent::Expose)
            std::_Exit(0);
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
