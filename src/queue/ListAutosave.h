#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class DownloadList;

// Saves the list soon after every change of its model, so that a crash or a kill loses nothing:
// a change of rows, names, sizes or states within ChangeDelay, a change of the progress column
// alone within ProgressDelay. Changes made while a Quiet lives are not saved.
class ListAutosave : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds ChangeDelay{500};
    static constexpr std::chrono::milliseconds ProgressDelay{5000};

    ListAutosave(DownloadList& list, std::function<void()> save);

    // On by default; off also drops a save that is due.
    void SetEnabled(bool enabled);

    // For changes that leave the list as its file holds it (the load).
    class Quiet {
    public:
        explicit Quiet(ListAutosave& autosave) : autosave_(autosave) { ++autosave_.quiet_; }
        ~Quiet() { --autosave_.quiet_; }
        Quiet(const Quiet&) = delete;
        Quiet& operator=(const Quiet&) = delete;

    private:
        ListAutosave& autosave_;
    };

private:
    void Schedule(std::chrono::milliseconds delay);

    QTimer timer_;
    std::function<void()> save_;
    bool enabled_ = true;
    int quiet_ = 0;
};
