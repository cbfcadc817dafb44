#pragma once

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>

class QDialog;

// Answers the dialogs that code under test opens modally, from inside the event loop the modal
// dialog runs: each one that appears goes to the next action. A message box that appears when no
// action is left is recorded in Texts() and cancelled, so that the test fails instead of hanging.
class ModalAnswerer {
public:
    ModalAnswerer();

    void Then(std::function<void(QDialog&)> action);
    // Presses the given button of the next message box and records its text and caption.
    void ThenPress(int standardButton);

    const QStringList& Texts() const { return texts_; }
    const QStringList& Captions() const { return captions_; }
    int Pending() const { return static_cast<int>(actions_.size()); }

private:
    void Poll();

    std::deque<std::function<void(QDialog&)>> actions_;
    QPointer<QWidget> lastHandled_;
    QTimer timer_;
    QStringList texts_;
    QStringList captions_;
};
