#pragma once

#include <httplib.h>

#include <memory>
#include <string>

// Serves a body of the given length whose first bytes arrive at once and the rest never, until
// Release() or the object's end: a server that stalls mid-body. Stalled handlers share their
// state with this object, so they may outlive it safely.
class StallingRoute {
public:
    StallingRoute(httplib::Server& server, const std::string& pattern, std::size_t length,
                  std::string first);
    ~StallingRoute();
    StallingRoute(const StallingRoute&) = delete;
    StallingRoute& operator=(const StallingRoute&) = delete;

    // Lets every stalled response end (by dropping its connection).
    void Release();

private:
    struct Gate;
    std::shared_ptr<Gate> gate_;
};
