#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

// Reading pcapng files back with tshark, the capture tool support engineers
// use: tests skip when it is not installed.

// The standard output of `command` (its errors are dropped); `status` gets
// its exit status when given.
inline std::string commandOutput(const std::string& command, int* status = nullptr)
{
    std::string out;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, got);
        }
        const int ended = ::pclose(pipe);
        if (status != nullptr) {
            *status = ended;
        }
    }
    return out;
}

inline bool haveTshark()
{
    return std::system("tshark --version >/dev/null 2>&1") == 0;
}

inline std::string fromHex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The two directions of `-z follow,<protocol>,raw,0`: node 0 (the first
// packet's sender, the console) and node 1 (its lines start with a TAB).
// `options` go before the follow (e.g. a TLS key log and a port to decode as TLS).
inline std::pair<std::string, std::string> followed(const std::filesystem::path& file,
                                                    const std::string& protocol,
                                                    const std::string& options = {})
{
    const std::string out = commandOutput("tshark -r '" + file.string() + "' " + options +
                                          " -q -z follow," + protocol + ",raw,0");
    std::pair<std::string, std::string> sides;
    std::size_t at = out.find("Node 1:");
    at = at == std::string::npos ? out.size() : out.find('\n', at);
    while (at != std::string::npos && at + 1 < out.size()) {
        const std::size_t end = out.find('\n', at + 1);
        std::string line = out.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        at = end;
        if (line.starts_with("====")) {
            break;
        }
        if (line.starts_with("\t")) {
            sides.second += fromHex(line.substr(1));
        } else {
            sides.first += fromHex(line);
        }
    }
    return sides;
}
