// Must not compile: the host layer cannot see the app's headers.
#include "host/devicehost.h"
#include "app/commands/runpanel.h"
