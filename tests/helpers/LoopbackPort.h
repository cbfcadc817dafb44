#pragma once

#include <netinet/in.h>

// 127.0.0.1 at port, ready for bind or connect.
sockaddr_in LoopbackAddress(int port);

// A port on 127.0.0.1 that was free a moment ago and on which nothing listens now.
int FreeLoopbackPort();

// Whether something accepts connections on 127.0.0.1:port.
bool AcceptsOnLoopback(int port);
