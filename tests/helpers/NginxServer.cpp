#include "NginxServer.h"

#include "LoopbackPort.h"

#include <QFile>

#include <csignal>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

NginxServer::NginxServer(const std::string& root, const std::string& locationConfig,
                         const std::string& serverConfig, const std::string& httpConfig) {
    const std::string prefix = prefix_.path().toStdString();
    // A port may be taken between choosing and binding it: a few tries.
    for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
        const int port = FreeLoopbackPort();
        QFile config(prefix_.filePath("nginx.conf"));
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            break;
        }
        config.write(((geteuid() == 0 ? "user root;\n" : "") + std::string("daemon off;\n") +
                      "master_process off;\nworker_processes 1;\npid " + prefix + "/nginx.pid;\n" +
                      "error_log " + prefix + "/error.log;\nevents { worker_connections 256; }\n" +
                      "http {\n  access_log off;\n  " + httpConfig + "\n  sendfile on;\n" +
                      "  default_type application/octet-stream;\n  client_body_temp_path " +
                      prefix + "/body;\n  proxy_temp_path " + prefix + "/proxy;\n" +
                      "  fastcgi_temp_path " + prefix + "/fcgi;\n  uwsgi_temp_path " + prefix +
                      "/uwsgi;\n  scgi_temp_path " + prefix + "/scgi;\n  server {\n    listen " +
                      "127.0.0.1:" + std::to_string(port) + ";\n    root " + root + ";\n    " +
                      serverConfig + "\n    location / { " + locationConfig + " }\n  }\n}\n")
                         .c_str());
        config.close();
        const std::string path = config.fileName().toStdString();
        const std::string errors = prefix + "/error.log";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl("/usr/sbin/nginx", "nginx", "-p", prefix.c_str(), "-c", path.c_str(), "-e",
                    errors.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int wait = 0; wait < 1000 && pid_ > 0 && port_ == 0; ++wait) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1; // it ended: the port was taken, most likely
            } else if (AcceptsOnLoopback(port)) {
                port_ = port;
            } else {
                ::usleep(10000);
            }
        }
        if (port_ == 0 && pid_ > 0) { // still starting after ten seconds: the next try
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    if (port_ == 0) {
        throw std::runtime_error("nginx did not start; see " + prefix + "/error.log");
    }
}

NginxServer::~NginxServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string NginxServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}
