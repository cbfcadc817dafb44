#pragma once

#include <QString>

// One-line desktop notifications, sent to org.freedesktop.Notifications on the session bus
// without waiting for an answer. Where no session bus or no notification service runs, nothing
// happens.
class DesktopNotifier {
public:
    void Notify(const QString& line);
};
