#include "simulatorusage.h"

namespace devicetools
{

namespace
{

constexpr std::string_view kUsage = R"(Usage: devicesim [options]

A device for the console to talk to. It listens on TCP and UDP at once (or,
with --connect, dials its host),
recognises command frames in both delimiter modes ('[' '=' '-' or the codes
7, 8, 9) followed by CR LF and NUL (a missing NUL or a lone LF will do), prints
one line for every frame it receives, and answers like a device would.
Ctrl+C or SIGTERM stops it.

Listening:
  --listen ADDRESS   address or host name to listen on (default 127.0.0.1):
                     IPv4, IPv6 (::1 its loopback; :: every address of both
                     families). An address beyond the loopback works, with a
                     warning: other hosts can then reach the simulator.
  --address ADDRESS  the same as --listen.
  --port PORT        TCP and UDP port, 0 to 65535 (default 21210); 0 lets the
                     system pick one that is free for both, shown at start.
  --devices N        serve a fleet of N devices, 1 to 10000, on the ports
                     PORT to PORT+N-1 (TCP and UDP each), all in one event
                     loop; with --port 0 it looks for N free ports in a row
                     from 10000 on, outside the system's range for outgoing
                     connections, and shows them at start. Each device
                     answers by the same rules and faults, and each has the
                     limits of --max-clients and --idle-timeout (and up to
                     64 UDP peers) of its own. The limit on open files is
                     raised when the fleet needs more (N x (2 + max clients)
                     + 32); when the hard limit allows too few, devicesim
                     says so and exits with status 2.
  --max-clients N    TCP clients served at a time, 1 to 64 (default 8); a
                     client beyond them is closed at once, with a log line.
                     With --devices: for each device.
  --idle-timeout S   close a TCP client that has sent nothing for S seconds,
                     0 to 86400 (default 60; 0: never). A client that gets a
                     flood is not closed while the flood runs.

Dialing out (a device that calls its host, as "client only" devices do):
  --connect HOST:PORT  dial HOST (IPv4 address, IPv6 address in brackets as
                     in [::1]:21210, or a host name of either family) at
                     PORT instead of listening. A device dials at start, and again while
                     the host is away: waits from 1 s doubling to 30 s, each
                     up to a fifth shorter at random, each logged ("next try
                     in 3.6 s"); after a connection ends it dials again, the
                     waits starting at 1 s. Once connected it answers as a
                     listening device does (rules, echo, faults; the idle
                     time-out only when --idle-timeout is given). With
                     --devices N, N devices dial, all in one event loop,
                     each with its own device id: device 1 is "01", then in
                     base 62 (0-9, A-Z, a-z) up to "zz" for device 3843;
                     device 3844 is "00" and from there the ids repeat.
  --dial-rate N      dials started a second at most, over all devices, 1 to
                     100000 (default 2000: 1000 devices are connected within
                     about half a second).

TLS (TCP only; UDP stays plain):
  --tls              every TCP connection speaks TLS; records are logged as
                     plaintext. A connection that has not done its
                     handshake within 10 s is closed; at most 64
                     handshakes run at once, further connections wait.
  --cert FILE        listening: the certificate to show (PEM); without it
  --key FILE         one is made at start (kept in memory only) and its
                     SHA-256 fingerprint is shown on the start line.
                     Dialing: a client certificate and its key for hosts
                     that require one.
  --pin FINGERPRINT  dialing: accept the host whose certificate has this
                     SHA-256 fingerprint ("SHA256:AB:CD:..."), and no other.
  --ca FILE          dialing: also trust the authorities in FILE (PEM).
  --insecure         dialing: accept any certificate (still logged).
                     Without --pin or --insecure a host must have a
                     certificate that a trusted authority vouches for; a
                     refused host is logged with the reason and its
                     fingerprint, and dialed again later.

Events:
  --events RATE      every device sends an event frame (a card presented)
                     RATE times a second, 0.001 to 1000 (e.g. 1 or 0.5), to
                     each connection, accepted or dialed (not over UDP):
                     media C, its device id, a ten-digit card number as
                     data, command EVT, message "card presented". Frames
                     with command EVT it receives are the answers: logged
                     like every record, never answered.
  --event-mode MODE  the events' delimiters: demo ('[' '=' '-', the
                     default) or release (the codes 7, 8, 9).

Answers:
  --rules FILE       answer by reply rules (format below).
  --no-echo          frames that no rule answers get no answer. By default
                     they are echoed in the mode they came in. Free text never
                     gets an answer.
  --verbose          also print every answer sent.

Output:
  --log-rate N       print at most N records a second from one peer, 0 to
                     1000000 (default 100; 0: all); for the rest, one line
                     says how many there were ("... 12,345 more records from
                     127.0.0.1:40312 in the last second").

Faults, for testing clients (each one bounded):
  --close-after N    after answering N frames of a connection, close it
                     (UDP: send an empty datagram, which a connected client
                     reads as the end of the connection).
  --malformed        answer every frame with a block that fails the frame
                     check: "-=[ malformed block", CR LF, NUL.
  --split-at LIST    send every answer in pieces cut at these byte offsets,
                     ascending, comma-separated, at most 32 (e.g. 3,10).
  --split-pause MS   pause between the pieces, 1 to 5000 ms (default 50), so
                     that they arrive as separate blocks.
  --nul-inside       put a NUL byte in the middle of every answer.
  --flood RATE       after a connection's first frame, send frames at RATE
                     per second (1 to 10000): its media, id and command, a
                     running number as data and "flood" as message...
  --flood-for MS     ...for MS milliseconds (1 to 60000, default 1000).

  --help             show this text.

Output: one line per record received, with the time, the peer, the mode and
the fields; records that are no well-formed frame show their bytes in hex
(bytes that are not printable ASCII are always shown escaped, as \xNN):
  14:02:07.513 tcp 127.0.0.1:40312 DEMO media=B id=A1 data="39123439" command=ENT message="Message / Description"
  14:02:09.120 udp 127.0.0.1:51730 - not a frame, 3 bytes: 61 62 63 "abc"
With --devices the peer is followed by the device it talks to, as in
"tcp 127.0.0.1:40312 to port 21215".
Connections, faults, floods and failed sends get lines of their own. The
output never holds the simulator up: when it does not keep up (a pipe nobody
reads, a stopped terminal), lines are dropped and later counted in a line
"N log lines dropped".

Reply rule file: one rule a line, COMMAND => frame|text|none TEMPLATE.
COMMAND is the command received (ENT, EXT, DEL, IGN, ERR, END, TIM, or any
other three characters), or * for every command without a rule of its own.
A frame template is written as the console shows a frame, with '[' '=' '-';
it goes out in the mode the request came in. The placeholders {media} {id}
{data} {command} {message} take the received frame's fields. Every answer is
followed by CR LF and NUL. Lines starting with # are comments. The file must
be a regular file of at most 64 KiB, and no answer may be able to grow beyond
65,506 bytes (what a UDP datagram takes, less room for --nul-inside). For
example:
  ENT => frame [{media}{id}{data}=ENT-Welcome {message}
  ERR => text Error {message}
  IGN => none

Examples:
  devicesim
  devicesim --port 0 --verbose
  devicesim --rules tools/devicesim/replies.example
  devicesim --close-after 3
  devicesim --split-at 3,10 --split-pause 100
  devicesim --flood 50 --flood-for 2000
  devicesim --port 0 --devices 1000 --log-rate 10
  devicesim --connect 127.0.0.1:21210
  devicesim --tls --address ::
  devicesim --tls --connect [::1]:21210 --pin SHA256:AB:CD:...
  devicesim --devices 1000 --connect 127.0.0.1:21210 --events 1 --log-rate 10

Exit status: 0 after Ctrl+C or SIGTERM (within a second, whatever the output
does), 1 when it cannot listen (or cannot resolve the host to dial), 2 on a
usage error, a rule file it cannot use or too few open files for the fleet.
)";

} // namespace

std::string_view simulatorUsage()
{
    return kUsage;
}

} // namespace devicetools
