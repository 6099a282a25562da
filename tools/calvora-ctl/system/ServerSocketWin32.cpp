// Windows sockets. A listening socket is bound exclusively: Windows' SO_REUSEADDR would let
// another program take the same port beside the server, which POSIX's does not.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "ServerSocket.h"

namespace calvora::ctl {

namespace {

// Windows sockets are started once per process before the first one is made; libmicrohttpd
// starts them too, later, when its daemon starts.
bool SocketsStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

}  // namespace

SocketHandle OpenListenSocket(const std::string& host, int port, int& bound) {
  if (!SocketsStarted())
    return kNoSocket;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found)
    return kNoSocket;
  SocketHandle listening = kNoSocket;
  for (addrinfo* a = found; a && listening == kNoSocket; a = a->ai_next) {
    const SOCKET s = WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
      continue;
    const BOOL yes = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) == 0 &&
        ::bind(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 && ::listen(s, 128) == 0) {
      sockaddr_storage local{};
      int length = sizeof local;
      getsockname(s, reinterpret_cast<sockaddr*>(&local), &length);
      bound = local.ss_family == AF_INET6
                  ? ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port)
                  : ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
      listening = s;
    } else {
      closesocket(s);
    }
  }
  freeaddrinfo(found);
  return listening;
}

void CloseSocket(SocketHandle socket) {
  closesocket(socket);
}

void ShutdownSocket(SocketHandle socket) {
  ::shutdown(socket, SD_BOTH);
}

void LimitSendBuffer(SocketHandle socket, int bytes) {
  setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

}  // namespace calvora::ctl
