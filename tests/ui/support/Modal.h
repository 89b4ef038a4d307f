#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace kavo::test {

// When the modal window the next step opens counts as ready for the answer.
enum class ModalReady {
    Shown,       // it is the active modal widget
    HasKeyboard, // and it is the active window, with a focus widget (for steps that type)
};

// Runs answer on the modal window the next step opens, once it is ready; the answer must close it.
// The step that opens it runs a nested event loop, so the answer runs from a timer inside it.
inline void WhenModal(std::function<void(QWidget*)> answer, ModalReady ready = ModalReady::Shown)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer = std::move(answer), ready] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || (ready == ModalReady::HasKeyboard &&
                       (QApplication::activeWindow() != modal || !QApplication::focusWidget())))
            return;
        poll->stop();
        poll->deleteLater();
        answer(modal);
    });
    poll->start();
}

// The same for a dialog the answer accepts or rejects.
inline void WhenDialog(std::function<void(QDialog*)> answer)
{
    WhenModal([answer = std::move(answer)](QWidget* modal) { answer(qobject_cast<QDialog*>(modal)); });
}

} // namespace kavo::test
