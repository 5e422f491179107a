// Must not compile: the base layer cannot see the socket layer's headers.
#include "base/error.h"
#include "socket/socketchannel.h"
