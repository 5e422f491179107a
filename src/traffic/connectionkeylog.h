#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace traffic
{

// The TLS key log lines of one connection (the NSS key log format: a label,
// the client random and a secret, in hex), kept so that each record file of
// the connection can carry them again: a file then decrypts on its own.
//
// Bounded: add() keeps lines while their bytes (each with its "\n") stay
// within the bound given at construction, at most kMaxBytes; a line past it
// is not kept. Only what isKeyLogLine() accepts is kept.
//
// Threads: none; one owner.
class ConnectionKeyLog
{
public:
    static constexpr std::size_t kMaxBytes = 64 * 1024;
    // Far above the longest line of the format (a label of about 30
    // characters, 64 hex digits of random, 96 of a SHA-384 secret).
    static constexpr std::size_t kMaxLineBytes = 1024;

    explicit ConnectionKeyLog(std::size_t maxBytes = kMaxBytes);

    // True for one line of the format as far as a file needs it: 1 to
    // kMaxLineBytes printable ASCII characters, so that no line ends early,
    // none gets in between and no terminal control goes into a file.
    static bool isKeyLogLine(std::string_view line);

    // Keeps `line` (with a "\n" added); false when it is no key log line or
    // the bound is reached (nothing kept then).
    bool add(std::string_view line);
    // The lines kept, each "\n" ended.
    std::string_view lines() const { return lines_; }
    bool empty() const { return lines_.empty(); }
    void clear() { lines_.clear(); }

private:
    std::size_t maxBytes_;
    std::string lines_;
};

} // namespace traffic
