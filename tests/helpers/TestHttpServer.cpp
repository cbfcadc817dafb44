#include "TestHttpServer.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>

static thread_local int handledIndex = -1;

TestHttpServer::TestHttpServer() : server_(std::make_unique<httplib::Server>()), scheme_("http") {
    Listen(0);
}

TestHttpServer::TestHttpServer(const std::string& certificatePath, const std::string& keyPath,
                               int port)
    : server_(std::make_unique<httplib::SSLServer>(certificatePath.c_str(), keyPath.c_str())),
      scheme_("https") {
    if (!server_->is_valid()) {
        throw std::runtime_error("the TLS test server refused its certificate or key");
    }
    Listen(port);
}

bool TestHttpServer::MakeCertificate(const std::string& certificatePath,
                                     const std::string& keyPath) {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        keyPath + "' -out '" + certificatePath + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

TestHttpServer::~TestHttpServer() {
    ending_ = true;
    server_->stop();
    thread_.join();
}

void TestHttpServer::Get(const std::string& pattern, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_.emplace_back(std::regex(pattern), std::move(handler));
}

void TestHttpServer::GetStalling(const std::string& pattern, std::size_t length,
                                 std::string first) {
    Get(pattern, [this, length, first](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            length, "application/octet-stream",
            [this, first](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                while (offset > 0 && !ending_) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                return offset == 0 && sink.write(first.data(), first.size());
            });
    });
}

std::string TestHttpServer::Url(const std::string& path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
}

void TestHttpServer::Listen(int port) {
    // An idle kept-alive connection holds the server's end for this long.
    server_->set_keep_alive_timeout(1);
    // One route of the server's own, registered before it serves: the test's routes are looked
    // up under a lock, so that they may come while requests are handled.
    server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        Dispatch(request, response);
    });
    port_ = port == 0 ? server_->bind_to_any_port("127.0.0.1")
                      : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
    if (port_ <= 0) {
        throw std::runtime_error("no free loopback port for the test server");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() only takes effect once the accept loop runs.
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TestHttpServer::Dispatch(const httplib::Request& request, httplib::Response& response) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back({request.path, request.target, request.get_header_value("Range"),
                             request.get_header_value("If-Range"), request.headers,
                             request.remote_port, std::chrono::steady_clock::now()});
        handledIndex = static_cast<int>(requests_.size()) - 1;
        for (const auto& [pattern, route] : routes_) {
            if (std::regex_match(request.path, pattern)) {
                handler = route;
                break;
            }
        }
    }
    if (handler) {
        handler(request, response);
    } else {
        response.status = 404;
    }
}

std::vector<TestHttpServer::Seen> TestHttpServer::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

int TestHttpServer::HandledIndex() {
    return handledIndex;
}

void TestHttpServer::ForgetRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}
