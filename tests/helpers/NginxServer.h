#pragma once

#include <QTemporaryDir>

#include <sys/types.h>

#include <string>

// A real nginx on 127.0.0.1 and a free port, with its own prefix, serving a folder, for the
// object's lifetime. serverConfig goes into its server block, locationConfig into "location /",
// httpConfig into the http block after "access_log off;" (a log_format, for instance, which a
// server-level access_log in serverConfig may then use).
class NginxServer {
public:
    explicit NginxServer(const std::string& root, const std::string& locationConfig = "",
                         const std::string& serverConfig = "", const std::string& httpConfig = "");
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by the path.
    std::string Url(const std::string& path) const;

private:
    QTemporaryDir prefix_;
    pid_t pid_ = -1;
    int port_ = 0;
};
