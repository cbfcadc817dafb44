#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

// A scripted HTTP(S) server on 127.0.0.1 and a free port, serving from its own thread for the
// lifetime of the object. Routes may be added at any time, also while it serves; its end waits
// for every handler, so a handler may hold what the test gives it by value. It keeps what each
// request asked for, before its handler runs.
class TestHttpServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    struct Seen {
        std::string path, target, range, ifRange;
        httplib::Headers headers;
        int clientPort;
        std::chrono::steady_clock::time_point at;
    };

    TestHttpServer();
    // An HTTPS server with the given PEM certificate and key, on the given port or a free one.
    TestHttpServer(const std::string& certificatePath, const std::string& keyPath, int port = 0);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // GET requests whose whole path matches the pattern (the first route that matches wins).
    void Get(const std::string& pattern, Handler handler);
    // A server that stalls mid-body: of length bytes only first arrive, the rest never, until
    // the server ends.
    void GetStalling(const std::string& pattern, std::size_t length, std::string first);
    int port() const { return port_; }
    // The requests so far, in the order they came (the one being handled included).
    std::vector<Seen> Requests();
    // In a handler: the place in Requests() of the request it handles.
    static int HandledIndex();
    void ForgetRequests();
    // "http://127.0.0.1:PORT" (or https) followed by the path.
    std::string Url(const std::string& path) const;

    // A new self-signed certificate for 127.0.0.1 and its key, made by the openssl command.
    static bool MakeCertificate(const std::string& certificatePath, const std::string& keyPath);

private:
    void Listen(int port);
    void Dispatch(const httplib::Request& request, httplib::Response& response);

    std::atomic<bool> ending_{false};
    std::mutex mutex_;
    std::vector<std::pair<std::regex, Handler>> routes_;
    std::vector<Seen> requests_;
    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    int port_ = 0;
    std::thread thread_;
};
