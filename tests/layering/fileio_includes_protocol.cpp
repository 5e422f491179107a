// Must not compile: the file layer cannot see the protocol layer's headers.
#include "fileio/regularfile.h"
#include "protocol/delimiterset.h"
