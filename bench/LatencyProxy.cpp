#include "LatencyProxy.h"

#include "LoopbackPort.h"

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t ChunkSize = 64 * 1024;

// Small writes go out at once: the delays are the proxy's, not Nagle's.
void SendAtOnce(int socketFd) {
    const int on = 1;
    setsockopt(socketFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

// Waits until fd has the events or stopFd is readable; false on the stop (or a poll failure).
bool WaitFor(int fd, short events, int stopFd, int timeoutMs = -1) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int ready = poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && fds[1].revents == 0;
    }
}

// Waits for the given time; false when stopFd became readable first.
bool SleepUnlessStopped(int stopFd, std::chrono::milliseconds time) {
    const Clock::time_point end = Clock::now() + time;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            return true;
        }
        pollfd fd{stopFd, POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return false;
        }
    }
}

// What was read on one side and is on its way to the other. An empty chunk is the end of stream.
struct Chunk {
    Clock::time_point due;
    std::string bytes;
};

// One direction of a relayed connection: a reader stamps each chunk with its due time as it reads
// it, a writer sends each one when it is due. The reader never waits for the writer, so chunks
// read close together arrive close together, each after the same delay.
class Direction {
public:
    Direction(int from, int to, int stopFd, Clock::duration delay)
        : from_(from), to_(to), stopFd_(stopFd), delay_(delay) {}

    void Read() {
        std::string buffer(ChunkSize, '\0');
        for (;;) {
            if (!WaitFor(from_, POLLIN, stopFd_)) {
                Abandon();
                return;
            }
            const ssize_t got = recv(from_, buffer.data(), buffer.size(), 0);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            // A reset ends the stream as an orderly close does.
            const std::size_t size = got > 0 ? static_cast<std::size_t>(got) : 0;
            Push({Clock::now() + delay_, buffer.substr(0, size)});
            if (size == 0) {
                return;
            }
        }
    }

    void Write() {
        for (;;) {
            std::unique_lock lock(mutex_);
            arrived_.wait(lock, [this] { return !chunks_.empty() || abandoned_; });
            if (abandoned_) {
                return;
            }
            Chunk chunk = std::move(chunks_.front());
            chunks_.pop_front();
            lock.unlock();
            std::this_thread::sleep_until(chunk.due);
            if (chunk.bytes.empty()) {
                shutdown(to_, SHUT_WR);
                return;
            }
            if (!SendAll(chunk.bytes)) {
                // Nobody takes the rest: the reader stops reading too.
                shutdown(from_, SHUT_RD);
                return;
            }
        }
    }

private:
    void Push(Chunk chunk) {
        {
            std::lock_guard lock(mutex_);
            chunks_.push_back(std::move(chunk));
        }
        arrived_.notify_one();
    }

    void Abandon() {
        {
            std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        arrived_.notify_one();
    }

    bool SendAll(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            if (!WaitFor(to_, POLLOUT, stopFd_)) {
                return false;
            }
            const ssize_t wrote =
                send(to_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (wrote > 0) {
                sent += static_cast<std::size_t>(wrote);
            } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                return false;
            }
        }
        return true;
    }

    const int from_;
    const int to_;
    const int stopFd_;
    const Clock::duration delay_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Chunk> chunks_;
    bool abandoned_ = false;
};

} // namespace

LatencyProxy::OwnedFd& LatencyProxy::OwnedFd::operator=(OwnedFd&& other) noexcept {
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

int LatencyProxy::OwnedFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void LatencyProxy::OwnedFd::Reset(int fd) {
    if (fd_ >= 0) {
        close(fd_);
    }
    fd_ = fd;
}

LatencyProxy::LatencyProxy(int upstreamPort, std::chrono::milliseconds roundTrip)
    : upstreamPort_(upstreamPort), roundTrip_(roundTrip),
      listener_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    int stopPipe[2] = {-1, -1};
    if (pipe2(stopPipe, O_CLOEXEC) == 0) {
        stopReader_.Reset(stopPipe[0]);
        stopWriter_.Reset(stopPipe[1]);
    }
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof(address);
    if (!listener_.IsOpen() || !stopReader_.IsOpen() ||
        bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener_.Get(), SOMAXCONN) != 0 ||
        getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("the latency proxy could not listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptConnections(); });
}

LatencyProxy::~LatencyProxy() {
    stopWriter_.Reset(); // the stop pipe's reading end turns readable everywhere
    acceptor_.join();
    for (const auto& link : links_) {
        link->thread.join();
    }
}

void LatencyProxy::AcceptConnections() {
    while (WaitFor(listener_.Get(), POLLIN, stopReader_.Get())) {
        OwnedFd client(accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        JoinFinishedLinks();
        if (!client.IsOpen()) {
            continue;
        }
        Link& link = *links_.emplace_back(std::make_unique<Link>());
        link.client = std::move(client);
        link.thread = std::thread([this, &link] { Relay(link); });
    }
}

void LatencyProxy::JoinFinishedLinks() {
    links_.remove_if([](const std::unique_ptr<Link>& link) {
        if (!link->finished) {
            return false;
        }
        link->thread.join();
        return true;
    });
}

void LatencyProxy::Relay(Link& link) {
    OwnedFd upstream(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = LoopbackAddress(upstreamPort_);
    // The set-up's round trip; the client's first bytes wait in the socket meanwhile.
    if (SleepUnlessStopped(stopReader_.Get(), roundTrip_) && upstream.IsOpen() &&
        connect(upstream.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
            0) {
        SendAtOnce(link.client.Get());
        SendAtOnce(upstream.Get());
        const Clock::duration halfTrip = roundTrip_ / 2;
        Direction toServer(link.client.Get(), upstream.Get(), stopReader_.Get(), halfTrip);
        Direction toClient(upstream.Get(), link.client.Get(), stopReader_.Get(), halfTrip);
        std::thread threads[] = {
            std::thread([&] { toServer.Read(); }), std::thread([&] { toServer.Write(); }),
            std::thread([&] { toClient.Read(); }), std::thread([&] { toClient.Write(); })};
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    link.client.Reset();
    link.finished = true;
}
