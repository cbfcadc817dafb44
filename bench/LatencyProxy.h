#pragma once

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <thread>

// A TCP relay on 127.0.0.1 and a free port to 127.0.0.1:upstreamPort that makes loopback behave
// like a network with the given round trip: each accepted connection waits one round trip before
// it reaches the upstream (what a connection's set-up costs), and every chunk read in either
// direction is written on half a round trip after it was read, in order, however many chunks are
// on their way at once. An end of stream travels the same way. Connections are relayed until both
// directions have ended or the object goes; its end stops and joins everything.
class LatencyProxy {
public:
    LatencyProxy(int upstreamPort, std::chrono::milliseconds roundTrip);
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy&) = delete;
    LatencyProxy& operator=(const LatencyProxy&) = delete;

    int port() const { return port_; }

    // A file descriptor closed with its owner.
    class OwnedFd {
    public:
        explicit OwnedFd(int fd = -1) : fd_(fd) {}
        ~OwnedFd() { Reset(); }
        OwnedFd(OwnedFd&& other) noexcept : fd_(other.Release()) {}
        OwnedFd& operator=(OwnedFd&& other) noexcept;
        OwnedFd(const OwnedFd&) = delete;
        OwnedFd& operator=(const OwnedFd&) = delete;

        int Get() const { return fd_; }
        bool IsOpen() const { return fd_ >= 0; }
        int Release();
        void Reset(int fd = -1);

    private:
        int fd_;
    };

private:
    struct Link {
        OwnedFd client;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void AcceptConnections();
    void Relay(Link& link);
    void JoinFinishedLinks();

    const int upstreamPort_;
    const std::chrono::milliseconds roundTrip_;
    OwnedFd listener_;
    // A pipe whose writing end is closed when the object goes: its reading end then turns
    // readable, and every blocking wait also polls it.
    OwnedFd stopReader_;
    OwnedFd stopWriter_;
    int port_ = 0;
    std::list<std::unique_ptr<Link>> links_; // only the acceptor thread and the destructor
    std::thread acceptor_;
};
