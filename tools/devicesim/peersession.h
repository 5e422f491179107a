#pragma once

#include "faultmodes.h"
#include "framedecoder.h"
#include "responder.h"
#include "simulatorlog.h"
#include "stopsignal.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace devicetools
{

// The simulator's dealings with one peer (a TCP connection, or one UDP
// sender): logs each record, answers its frames, counts them for the
// close-after fault and runs its flood. The transport hands it records and
// calls sendDueFlood() when msUntilFlood() has passed; it sends through the
// transport's send function.
//
// One thread (the transport's) uses a session; the responder, faults, log and
// stop signal it refers to must outlive it.
class PeerSession
{
public:
    using Clock = std::chrono::steady_clock;
    // A flood that falls this far behind its end time stops.
    static constexpr std::uint32_t kFloodLateMs = 1000;
    // Sends one block (or one piece of a split block); false when it failed.
    using Send = std::function<bool(std::string_view bytes)>;

    enum class Outcome {
        Continue, // go on reading
        Close,    // the close-after fault is due: end the exchange
        Failed,   // a send failed or the simulator is stopping
    };

    struct Settings {
        const Responder& responder;
        const FaultModes& faults;
        SimulatorLog& log;
        const StopSignal& stop;
        bool verbose = false; // log every answer sent
    };

    PeerSession(std::string peerText, const Settings& settings, Send send);

    // One record of this peer (see RecordSplitter).
    Outcome handleRecord(std::string_view record);
    // Sends every flood frame that is due by now; ends the flood once all its
    // frames are out, or kFloodLateMs after its end time.
    Outcome sendDueFlood();
    // Milliseconds until the next flood frame is due (0: now), or nothing.
    std::optional<std::uint32_t> msUntilFlood() const;
    // Starts counting frames afresh (after a UDP "close").
    void resetCount() { frames_ = 0; }

    const std::string& peerText() const { return peerText_; }
    std::uint32_t frames() const { return frames_; }

private:
    struct Flood {
        DecodedFrame trigger;
        Clock::time_point start;
        std::uint32_t sent = 0;
        std::uint32_t total = 0;
    };

    Outcome sendAnswer(std::string_view answer);
    Clock::time_point floodDue(std::uint32_t index) const;

    std::string peerText_;
    Settings settings_;
    Send send_;
    std::uint32_t frames_ = 0;
    bool floodDone_ = false;
    std::optional<Flood> flood_;
};

} // namespace devicetools
