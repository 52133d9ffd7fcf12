#pragma once
// A TCP listener on 127.0.0.1 at a port the system chose, for tests that play a network peer.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Returns the listening socket (address holds its address), or -1 when it could not be made.
inline int ListenOnLoopback(int backlog, sockaddr_in& address) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener, backlog) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (listener >= 0) {
            ::close(listener);
        }
        return -1;
    }
    return listener;
}
