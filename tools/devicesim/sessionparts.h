#pragma once

#include "deviceevents.h"
#include "peersession.h"
#include "responder.h"
#include "simulatorconfig.h"
#include "simulatorlog.h"
#include "stopsignal.h"

namespace devicetools
{

// What the sessions of one simulator (one device or a fleet) share: the stop
// signal, the responder made from the configuration, and the settings every
// session is given. Neither copied nor moved: the settings refer to the other
// two members. Threads: as its members'.
class SessionParts
{
public:
    SessionParts(const SimulatorConfig& config, SimulatorLog& log)
        : responder(config.rules ? &*config.rules : nullptr, config.echo, config.faults),
          settings{responder,
                   config.faults,
                   log,
                   stop,
                   config.verbose,
                   config.logRate,
                   config.eventsPerSecond > 0 ? DeviceEvents::kCommand : std::string_view{}}
    {
    }
    SessionParts(const SessionParts&) = delete;
    SessionParts& operator=(const SessionParts&) = delete;

    StopSignal stop;
    Responder responder;
    PeerSession::Settings settings;
};

} // namespace devicetools
