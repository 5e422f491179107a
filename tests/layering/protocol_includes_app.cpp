// Must not compile: the protocol layer cannot see the console's headers.
#include "app/view/messageview.h"
#include "protocol/framecheck.h"
