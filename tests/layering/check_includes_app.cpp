// Must not compile: the check layer (and its reports) cannot see the app's headers.
#include "check/junitreport.h"
#include "app/commands/runpanel.h"
