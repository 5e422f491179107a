#pragma once

#include "tls/tlssession.h"

#include "traffic/recordfacts.h"
#include "traffic/trafficrecord.h"

#include <chrono>
#include <string>
#include <vector>

// Two TLS sessions run in memory, and what they put on the wire kept as the
// records of a capture (the client's output as writes, the server's as
// reads), for tests that have a capture tool decrypt it.

// A record of `kind` a millisecond after the one before.
inline traffic::Record wireRecord(traffic::RecordKind kind, std::string bytes, std::string text)
{
    static auto time = std::chrono::system_clock::now();
    time += std::chrono::milliseconds(1);
    const traffic::RecordFacts facts = traffic::recordFacts(kind, text);
    return traffic::Record{time, kind, std::move(bytes), std::move(text), facts};
}

// A capture's start: the connect to 127.0.0.1:21210.
inline std::vector<traffic::Record> wireStart()
{
    return {wireRecord(traffic::RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"),
            wireRecord(traffic::RecordKind::Connected, "", "127.0.0.1:40112 after 0 ms")};
}

// Carries the bytes each side gives to the other until neither has more,
// each flight kept in `wire`.
inline void carry(tls::TlsSession& client, tls::TlsSession& server,
                  std::vector<traffic::Record>& wire)
{
    for (int turn = 0; turn < 10; ++turn) {
        const std::string up = client.takeOutput();
        const std::string down = server.takeOutput();
        if (up.empty() && down.empty())
            return;
        if (!up.empty())
            wire.push_back(wireRecord(traffic::RecordKind::Write, up,
                                      std::to_string(up.size()) + " bytes written"));
        if (!down.empty())
            wire.push_back(wireRecord(traffic::RecordKind::Read, down, ""));
        server.receive(up);
        client.receive(down);
    }
}
