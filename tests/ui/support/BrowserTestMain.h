#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

namespace kavo::test {

// main() of a widget test whose window may show the YP-style page: the browser engine runs on
// machines without a GPU, or as root, and with a runtime folder of its own.
template <class Test>
int BrowserTestMain(int argc, char** argv)
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu");
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace kavo::test
