#pragma once

#include <chrono>
#include <string>

// Reading a TCP connection with the kernel's time of arrival: a benchmark's
// peer times what it receives by when it reached its socket, not by when its
// own thread got round to reading it (on a busy machine that thread can run
// tens of milliseconds late, which is no part of what is measured).
//
// stampArrivals() switches the kernel's software receive stamps on for
// `socket` (false when the system refuses). receiveStamped() waits at most
// `limit` for bytes, reads what has come into `chunk` and sets `arrived` to
// the arrival of the last of them on the system clock (the read's own time
// when the kernel gave none); false when nothing came or the connection
// ended. One thread per socket.
bool stampArrivals(int socket);
bool receiveStamped(int socket, std::string& chunk, std::chrono::system_clock::time_point& arrived,
                    std::chrono::milliseconds limit);
