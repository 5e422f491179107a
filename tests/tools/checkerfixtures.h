#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// What the device checker's tests share: a scratch folder, a loopback port
// that tells whether anything connected, and a file's bytes.

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A folder of the test's own, gone at the end.
class Scratch
{
public:
    Scratch()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "devicecheck-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return file(name);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A TCP socket bound on 127.0.0.1 that listens (or not: then a connect to its
// port is refused) while the object lives.
class LoopbackPort
{
public:
    explicit LoopbackPort(bool listening)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = std::to_string(ntohs(address.sin_port));
        if (listening) {
            ::listen(fd_, 4);
        }
    }
    ~LoopbackPort() { ::close(fd_); }
    const std::string& port() const { return port_; }
    // True when a connection waits to be accepted.
    bool wasContacted() const
    {
        const int client = ::accept(fd_, nullptr, nullptr);
        if (client >= 0) {
            ::close(client);
        }
        return client >= 0;
    }

private:
    int fd_ = -1;
    std::string port_;
};
