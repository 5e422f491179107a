#pragma once

#include "faultmodes.h"
#include "responder.h"
#include "simulatorlog.h"
#include "stopsignal.h"

#include "protocol/framedecoder.h"

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
// calls tick() when msUntilDue() has passed; it sends through the
// transport's send function.
//
// The log gets at most Settings::logRate records a second from one peer
// (with their answers); beyond that the records are counted, and once the
// second is over one line says how many were left out. The destructor
// writes a summary still due.
//
// One thread (the transport's) uses a session; the responder, faults, log and
// stop signal it refers to must outlive it.
class PeerSession
{
public:
    using Clock = std::chrono::steady_clock;
    // A flood that falls this far behind its end time stops.
    static constexpr std::uint32_t kFloodLateMs = 1000;
    // Sends one block (or one piece of a split block) `pauseMs` after what
    // went before it (0 but for the later pieces of a split answer); false
    // when it failed. A blocking transport waits out the pause (ending early
    // on a stop, with false); an event loop queues the piece for its time.
    using Send = std::function<bool(std::string_view bytes, std::uint32_t pauseMs)>;

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
        bool verbose = false;      // log every answer sent
        std::uint32_t logRate = 0; // records logged a second; 0: no limit
        // Frames with this command answer the device's own events: logged,
        // never answered, not counted (empty: every frame is a request).
        std::string_view eventCommand{};
    };

    static constexpr std::chrono::seconds kLogWindow{1};

    // `peerText` is "tcp a.b.c.d:port" or "udp a.b.c.d:port".
    PeerSession(std::string peerText, const Settings& settings, Send send);
    ~PeerSession();
    PeerSession(const PeerSession&) = delete;
    PeerSession& operator=(const PeerSession&) = delete;

    // One record of this peer (see RecordSplitter).
    Outcome handleRecord(std::string_view record);
    // Sends every flood frame that is due by now (ends the flood once all its
    // frames are out, kFloodLateMs after its end time, or after a failed
    // send) and writes a log summary that is due.
    Outcome tick();
    // Milliseconds until the next flood frame or log summary is due (0: now),
    // or nothing.
    std::optional<std::uint32_t> msUntilDue() const;
    // True while a flood runs.
    bool flooding() const { return flood_.has_value(); }
    // Writes the summary of records left out of the log, if any, now.
    void summariseLog();
    // Starts counting frames afresh (after a UDP "close").
    void resetCount() { frames_ = 0; }

    const std::string& peerText() const { return peerText_; }
    std::uint32_t frames() const { return frames_; }

private:
    struct Flood {
        protocol::DecodedFrame trigger;
        Clock::time_point start;
        std::uint32_t sent = 0;
        std::uint32_t total = 0;
    };

    Outcome sendAnswer(std::string_view answer, bool logged);
    Outcome sendDueFlood();
    Clock::time_point floodDue(std::uint32_t index) const;
    // Starts a new log second when the last is over; true when one more
    // record of this peer may be logged in the current one.
    bool takeLogTurn();

    std::string peerText_;
    Settings settings_;
    Send send_;
    std::uint32_t frames_ = 0;
    bool floodDone_ = false;
    std::optional<Flood> flood_;
    Clock::time_point logWindowStart_{};
    std::uint32_t loggedInWindow_ = 0;
    std::uint64_t leftOut_ = 0;
};

} // namespace devicetools
