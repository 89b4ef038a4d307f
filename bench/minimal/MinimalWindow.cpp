// The reference for kavo's start-up figure: the least a Qt Widgets program does to show a window.
// With --with-text the window also carries what any Japanese list program shows at once (a menu
// bar, a tool bar, list headers and a status line in Japanese), which the bare window never pays
// for: the font database and a CJK font.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>
#include <QWindow>

#include <cstring>

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
    if (argc > 1 && std::strcmp(argv[1], "--with-text") == 0) {
        for (const char* menu : {"ファイル(&F)", "表示(&V)", "通知(&N)", "ツール(&T)", "ヘルプ(&H)"})
            window.menuBar()->addMenu(QString::fromUtf8(menu));
        QToolBar* tools = window.addToolBar(QStringLiteral("tools"));
        for (const char* action : {"更新", "設定", "お気に入り"})
            tools->addAction(QString::fromUtf8(action));
        auto* model = new QStandardItemModel(0, 5, &window);
        model->setHorizontalHeaderLabels({QString::fromUtf8("チャンネル名"), QString::fromUtf8("ジャンル - 詳細"),
                                          QString::fromUtf8("リスナー"), QString::fromUtf8("時間"),
                                          QString::fromUtf8("タイプ")});
        auto* view = new QTreeView(&window);
        view->setModel(model);
        window.setCentralWidget(view);
        window.statusBar()->addWidget(new QLabel(QString::fromUtf8("放送中 0 ch")));
    }
    QuitOnExpose quit;
    window.winId();
    window.windowHandle()->installEventFilter(&quit);
    window.show();
    return app.exec();
}
