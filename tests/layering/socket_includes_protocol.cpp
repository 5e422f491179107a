// Must not compile: the socket layer cannot see the protocol layer's headers.
#include "socket/socketchannel.h"
#include "protocol/delimiterset.h"
