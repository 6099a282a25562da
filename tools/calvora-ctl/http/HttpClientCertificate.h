#pragma once
// Whether a TLS client's certificate lets it in, as the server's mode asks: none needed, any
// certificate, or one that the trusted authorities signed (when given, or always).
#include <string>

#include "HttpServer.h"

namespace calvora::ctl {

// Why the client of the GnuTLS session `tlsSession` is refused, or "" when it may go on.
std::string ClientCertificateRefusal(void* tlsSession, ClientCertificates mode);

}  // namespace calvora::ctl
