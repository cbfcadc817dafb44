#include "NginxServer.h"

#include "LoopbackPort.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

bool Accepts(int port) {
    int socketFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool connected = connect(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(socketFd);
    return connected;
}

std::string FindNginx() {
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx"}) {
        if (access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    throw std::runtime_error("nginx is not installed");
}

} // namespace

NginxServer::NginxServer(const std::string& root, const std::string& locationConfig) {
    if (!prefix_.isValid()) {
        throw std::runtime_error("no temporary folder for nginx");
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (TryStart(root, locationConfig)) {
            return;
        }
    }
    throw std::runtime_error("nginx did not start; see its error.log");
}

NginxServer::~NginxServer() {
    StopProcess();
}

std::string NginxServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool NginxServer::TryStart(const std::string& root, const std::string& locationConfig) {
    port_ = FreeLoopbackPort();
    const std::string prefix = prefix_.path().toStdString();
    const std::string configPath = prefix + "/nginx.conf";
    {
        std::ofstream config(configPath);
        if (geteuid() == 0) {
            config << "user root;\n";
        }
        config << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
               << "pid " << prefix << "/nginx.pid;\n"
               << "error_log " << prefix << "/error.log;\n"
               << "events { worker_connections 128; }\n"
               << "http {\n  access_log off;\n  sendfile on;\n  default_type "
                  "application/octet-stream;\n"
               << "  client_body_temp_path " << prefix << "/body;\n"
               << "  proxy_temp_path " << prefix << "/proxy;\n"
               << "  fastcgi_temp_path " << prefix << "/fastcgi;\n"
               << "  uwsgi_temp_path " << prefix << "/uwsgi;\n"
               << "  scgi_temp_path " << prefix << "/scgi;\n"
               << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << root << ";\n"
               << "    location / { " << locationConfig << " }\n  }\n}\n";
    }
    const std::string nginx = FindNginx();
    pid_ = fork();
    if (pid_ == 0) {
        execl(nginx.c_str(), nginx.c_str(), "-p", prefix.c_str(), "-c", configPath.c_str(), "-e",
              (prefix + "/error.log").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid_ < 0) {
        throw std::runtime_error("cannot fork for nginx");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Accepts(port_)) {
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    StopProcess();
    return false;
}

void NginxServer::StopProcess() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}
