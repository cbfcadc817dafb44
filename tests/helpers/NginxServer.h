#pragma once

#include <QTemporaryDir>

#include <string>
#include <sys/types.h>

// A real nginx on 127.0.0.1 and a free port, with its own prefix, serving a folder. It runs as a
// child process for the lifetime of the object.
class NginxServer {
public:
    // locationConfig is placed inside "location / { ... }" (for example "limit_rate 10m;").
    explicit NginxServer(const std::string& root, const std::string& locationConfig = "");
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    int port() const { return port_; }
    std::string Url(const std::string& path) const;

private:
    bool TryStart(const std::string& root, const std::string& locationConfig);
    void StopProcess();

    QTemporaryDir prefix_;
    int port_ = 0;
    pid_t pid_ = -1;
};
