#pragma once
// Answers a modal dialog that the code under test opens with exec(): the
// answer runs inside the dialog's own event loop once the dialog is shown.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace vt::test {

template <typename T>
void AnswerNextModal(std::function<void(T*)> answer, int timeout_ms = 5000) {
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, answer, timeout_ms] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->isVisible()) {
            timer->stop();
            timer->deleteLater();
            answer(dialog);
        } else if (clock->elapsed() > timeout_ms) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected dialog was never shown";
        }
    });
    timer->start(10);
}

}  // namespace vt::test
