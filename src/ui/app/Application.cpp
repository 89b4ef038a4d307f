#include "ui/app/Application.h"

#include "ui/app/DebugLog.h"

namespace kavo {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        DebugLog::Exception("event", std::current_exception());
        return false;
    }
}

} // namespace kavo
