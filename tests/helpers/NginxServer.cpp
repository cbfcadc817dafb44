#include "NginxServer.h"

#include "LoopbackPort.h"

#include <QFile>

#include <stdexcept>
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
        process_.start("/usr/sbin/nginx", {"-p", prefix_.path(), "-c", config.fileName(), "-e",
                                           prefix_.filePath("error.log")});
        process_.waitForStarted();
        for (int wait = 0; wait < 1000 && process_.state() == QProcess::Running; ++wait) {
            if (AcceptsOnLoopback(port)) {
                port_ = port;
                break;
            }
            process_.waitForFinished(10);
        }
    }
    if (port_ == 0) {
        throw std::runtime_error("nginx did not start; see " + prefix + "/error.log");
    }
}

NginxServer::~NginxServer() {
    process_.terminate();
    process_.waitForFinished(5000);
}

std::string NginxServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}
