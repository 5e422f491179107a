#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace traffic
{

// The names of record files: "<start time>_<label>.log" (".pcapng" for
// pcapng records), e.g.
// 20261207T081502.123Z_tcp_127.0.0.1_21210.log. Plain functions of their
// arguments; any thread.

inline constexpr std::string_view kRecordFileExtension = ".log";
inline constexpr std::string_view kPcapngRecordFileExtension = ".pcapng";
// The label for records that come before any connect attempt.
inline constexpr std::string_view kNoConnectionLabel = "none";

// "20261207T081502.123Z": UTC, milliseconds.
std::string recordFileTime(std::chrono::sys_time<std::chrono::milliseconds> millis);
// "<protocol>_<address>_<port>" of a connect attempt's text
// ("TCP 127.0.0.1:21210" gives "tcp_127.0.0.1_21210"), every character other
// than a letter, digit, '.' or '-' replaced by '-', so that no text can reach
// outside the folder; kNoConnectionLabel for an empty text.
std::string recordFileLabel(std::string_view connectText);
// True for a name of the form record files of either kind have.
bool isRecordFileName(std::string_view name);

} // namespace traffic
