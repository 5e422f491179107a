// Must not compile: the protocol layer cannot see the check layer's headers.
#include "protocol/framedecoder.h"
#include "check/checkrun.h"
