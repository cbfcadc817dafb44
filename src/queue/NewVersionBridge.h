#pragma once

#include <QMetaObject>

#include <memory>

class DownloadQueue;

// While it lives, the process's new-version hook: it carries a notice from a transfer thread to
// the queue's thread, which asks the user, and the answer back. The transfer waits until the
// question has been handled, or until the queue tears down or the bridge goes, so it never waits
// for a queue that is gone. The application makes one for its queue.
class NewVersionBridge {
public:
    explicit NewVersionBridge(DownloadQueue& queue);
    ~NewVersionBridge();
    NewVersionBridge(const NewVersionBridge&) = delete;
    NewVersionBridge& operator=(const NewVersionBridge&) = delete;

private:
    struct Channel;

    std::shared_ptr<Channel> channel_;
    QMetaObject::Connection teardown_;
};
