#pragma once

// How many times the global operator new has run in this process. Linking
// allocationcount.cpp replaces the global operator new and delete with
// counting ones, so that a benchmark can show its measured path allocates
// nothing.
long allocationCount();
