#pragma once
// The sockets the HTTP server handles itself, on each system: the listening socket it binds
// before handing it to libmicrohttpd, and the shut-down and send buffer of a connection's
// socket. A socket is the library's own type: an int on POSIX, a SOCKET on Windows.
#include <cstdint>
#include <string>

namespace calvora::ctl {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif
inline constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(-1);

// A non-blocking socket bound to the host's address and the port and listening, with the port
// bound (the chosen one for port 0); kNoSocket when the address is not one of this host or is in
// use.
SocketHandle OpenListenSocket(const std::string& host, int port, int& bound);
void CloseSocket(SocketHandle socket);
// Ends both directions at once: the library sees the connection's end at its next look.
void ShutdownSocket(SocketHandle socket);
// What the system may hold unsent for the socket.
void LimitSendBuffer(SocketHandle socket, int bytes);

}  // namespace calvora::ctl
