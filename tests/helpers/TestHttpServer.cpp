#include "TestHttpServer.h"

#include <chrono>
#include <stdexcept>

TestHttpServer::TestHttpServer() : server_(std::make_unique<httplib::Server>()), scheme_("http") {
    Listen();
}

TestHttpServer::TestHttpServer(const std::string& certificatePath, const std::string& keyPath)
    : server_(std::make_unique<httplib::SSLServer>(certificatePath.c_str(), keyPath.c_str())),
      scheme_("https") {
    if (!server_->is_valid()) {
        throw std::runtime_error("the TLS test server refused its certificate or key");
    }
    Listen();
}

void TestHttpServer::Listen() {
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("no free loopback port for the test server");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() only takes effect once the accept loop runs.
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TestHttpServer::~TestHttpServer() {
    Stop();
}

std::string TestHttpServer::Url(const std::string& path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
}

void TestHttpServer::Stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}
