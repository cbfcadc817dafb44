#include "NewVersionBridge.h"

#include "DownloadQueue.h"
#include "VersionCheck.h"

#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>

struct NewVersionBridge::Channel {
    std::mutex mutex;
    std::condition_variable changed;
    DownloadQueue* queue = nullptr; // null once it takes no more notices
    std::uint64_t asked = 0;
    std::uint64_t answered = 0;

    // On a transfer thread: hands the notice over and waits for it to be handled.
    static void Ask(const std::shared_ptr<Channel>& channel) {
        std::unique_lock lock(channel->mutex);
        DownloadQueue* queue = channel->queue;
        if (queue == nullptr) {
            return;
        }
        if (QThread::currentThread() == queue->thread()) {
            lock.unlock();
            queue->OnNewVersion();
            return;
        }
        const std::uint64_t ticket = ++channel->asked;
        QMetaObject::invokeMethod(
            queue,
            [queue, channel, ticket] {
                queue->OnNewVersion();
                std::lock_guard answeredLock(channel->mutex);
                channel->answered = std::max(channel->answered, ticket);
                channel->changed.notify_all();
            },
            Qt::QueuedConnection);
        channel->changed.wait(
            lock, [&] { return channel->answered >= ticket || channel->queue == nullptr; });
    }

    // Releases every waiting transfer (their answer: no) and takes no more notices.
    void Close() {
        std::lock_guard lock(mutex);
        queue = nullptr;
        changed.notify_all();
    }
};

NewVersionBridge::NewVersionBridge(DownloadQueue& queue) : channel_(std::make_shared<Channel>()) {
    channel_->queue = &queue;
    teardown_ = QObject::connect(&queue, &DownloadQueue::tearingDown,
                                 [channel = channel_] { channel->Close(); });
    SetNewVersionHook([channel = channel_] { Channel::Ask(channel); });
}

NewVersionBridge::~NewVersionBridge() {
    QObject::disconnect(teardown_);
    channel_->Close();
    SetNewVersionHook({});
}
