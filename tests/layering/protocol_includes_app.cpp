// Must not compile: the protocol layer cannot see the console's headers.
#include "protocol/framecheck.h"
#include "app/messageview.h"
