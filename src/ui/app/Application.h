#pragma once

#include <QApplication>

namespace kavo {

// Keeps an exception that escapes an event handler from ending the program, and logs it in
// debug mode.
class Application : public QApplication
{
    Q_OBJECT

public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace kavo
