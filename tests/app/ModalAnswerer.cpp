#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>

ModalAnswerer::ModalAnswerer() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

void ModalAnswerer::Then(std::function<void(QDialog&)> action) {
    actions_.push_back(std::move(action));
}

void ModalAnswerer::ThenPress(int standardButton) {
    Then([this, standardButton](QDialog& dialog) {
        auto* box = qobject_cast<QMessageBox*>(&dialog);
        if (box == nullptr) {
            texts_.append("<not a message box: " + dialog.windowTitle() + ">");
            dialog.reject();
            return;
        }
        texts_.append(box->text());
        captions_.append(box->windowTitle());
        if (QAbstractButton* button =
                box->button(static_cast<QMessageBox::StandardButton>(standardButton))) {
            button->click();
        } else {
            texts_.append("<no such button>");
            box->reject();
        }
    });
}

void ModalAnswerer::Poll() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible() || dialog == lastHandled_) {
        return;
    }
    if (actions_.empty()) {
        // A message box nobody expected is recorded and cancelled, so that the test fails
        // instead of hanging. Other dialogs may belong to another answerer.
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            lastHandled_ = dialog;
            texts_.append("<unexpected: " + box->text() + ">");
            box->reject();
        }
        return;
    }
    lastHandled_ = dialog;
    auto action = std::move(actions_.front());
    actions_.pop_front();
    // Run outside the timer's slot: Qt does not fire a timer again while its slot runs, and
    // the action may open the next modal dialog that this timer has to find.
    QPointer<QDialog> target = dialog;
    QMetaObject::invokeMethod(
        dialog,
        [target, action = std::move(action)] {
            if (target != nullptr) {
                action(*target);
            }
        },
        Qt::QueuedConnection);
}
