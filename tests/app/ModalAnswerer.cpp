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
        QAbstractButton* button =
            box ? box->button(static_cast<QMessageBox::StandardButton>(standardButton)) : nullptr;
        texts_.append(box ? box->text() : "<not a message box: " + dialog.windowTitle() + ">");
        captions_.append(dialog.windowTitle());
        button ? button->click() : dialog.reject();
    });
}

void ModalAnswerer::Poll() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible() || dialog == lastHandled_) {
        return;
    }
    std::function<void(QDialog&)> action = [this](QDialog& unexpected) {
        texts_.append("<unexpected: " + unexpected.windowTitle() + ">");
        unexpected.reject();
    };
    if (!actions_.empty()) {
        action = std::move(actions_.front());
        actions_.pop_front();
    } else if (qobject_cast<QMessageBox*>(dialog) == nullptr) {
        return; // another answerer's dialog, perhaps
    }
    lastHandled_ = dialog;
    // Run outside the timer's slot: Qt does not fire a timer again while its slot runs, and the
    // action may open the next modal dialog that this timer has to find.
    QMetaObject::invokeMethod(
        dialog, [target = QPointer<QDialog>(dialog), action] { target ? action(*target) : void(); },
        Qt::QueuedConnection);
}
