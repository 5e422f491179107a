#pragma once

#include "fleetrunner.h"

#include <ostream>
#include <string>

namespace devicetools
{

// The one live line a run shows on a terminal: devices done of all, passed,
// failed and the time so far, redrawn in place (carriage return, then the
// line, then "erase to the end of the line"). Off a terminal it writes
// nothing. One thread.
class ProgressLine
{
public:
    ProgressLine(std::ostream& out, bool live) : out_(out), live_(live) {}

    void update(const FleetProgress& progress);
    // Erases the line, so that what follows starts at the left margin.
    void clear();

    // "checked 512/1000  passed 510  failed 2  1.3 s"
    static std::string text(const FleetProgress& progress);

private:
    std::ostream& out_;
    bool live_;
    bool shown_ = false;
};

} // namespace devicetools
