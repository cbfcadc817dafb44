#include "LoopbackPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

int FreeLoopbackPort() {
    const int socketFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof(address);
    int port = 0;
    if (bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(socketFd);
    return port;
}

bool AcceptsOnLoopback(int port) {
    const int socketFd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = LoopbackAddress(port);
    const bool accepted =
        connect(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(socketFd);
    return accepted;
}
