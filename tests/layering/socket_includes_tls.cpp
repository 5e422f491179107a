// Must not compile: the socket layer cannot see the TLS layer's headers.
#include "socket/eventloop.h"
#include "tls/tlssession.h"
