#include "StallingRoute.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

struct StallingRoute::Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
};

StallingRoute::StallingRoute(httplib::Server& server, const std::string& pattern,
                             std::size_t length, std::string first)
    : gate_(std::make_shared<Gate>()) {
    server.Get(pattern, [gate = gate_, length, first = std::move(first)](
                            const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            length, "application/octet-stream",
            [gate, first](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset == 0) {
                    return sink.write(first.data(), first.size());
                }
                // A bound, so that a test that forgets to release still ends.
                std::unique_lock lock(gate->mutex);
                gate->changed.wait_for(lock, std::chrono::seconds(60),
                                       [&gate] { return gate->released; });
                return false;
            });
    });
}

StallingRoute::~StallingRoute() {
    Release();
}

void StallingRoute::Release() {
    {
        std::lock_guard lock(gate_->mutex);
        gate_->released = true;
    }
    gate_->changed.notify_all();
}
