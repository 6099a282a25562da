#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "ServerSocket.h"

namespace calvora::ctl {

SocketHandle OpenListenSocket(const std::string& host, int port, int& bound) {
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
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
      continue;
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 128) == 0) {
      sockaddr_storage local{};
      socklen_t length = sizeof local;
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
      bound = local.ss_family == AF_INET6
                  ? ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port)
                  : ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
      listening = fd;
    } else {
      ::close(fd);
    }
  }
  freeaddrinfo(found);
  return listening;
}

void CloseSocket(SocketHandle socket) {
  ::close(socket);
}

void ShutdownSocket(SocketHandle socket) {
  ::shutdown(socket, SHUT_RDWR);
}

void LimitSendBuffer(SocketHandle socket, int bytes) {
  setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

}  // namespace calvora::ctl
