#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

// A scripted HTTP server on 127.0.0.1 and a free port, serving from its own thread for the
// lifetime of the object. Routes may be added through server() at any time.
class TestHttpServer {
public:
    TestHttpServer();
    // An HTTPS server with the given PEM certificate and key.
    TestHttpServer(const std::string& certificatePath, const std::string& keyPath);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    httplib::Server& server() { return *server_; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT" (or https) followed by the path.
    std::string Url(const std::string& path) const;

    void Stop();

private:
    void Listen();

    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    int port_ = 0;
    std::thread thread_;
};
