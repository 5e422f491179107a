#pragma once

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

// A folder of the test's own, with the kinds of file a user may name by
// mistake; removed at the end.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        std::string pattern = testing::TempDir() + "fileioXXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchFolder()
    {
        if (socket_ >= 0) {
            ::close(socket_);
        }
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }
    // `kind`: "fifo", "folder", "socket", "device", "link" (to a regular file).
    std::string make(const std::string& kind)
    {
        const std::string path = file(kind);
        if (kind == "fifo") {
            EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else if (kind == "folder") {
            std::filesystem::create_directory(path);
        } else if (kind == "socket") {
            socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
            EXPECT_EQ(::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        } else if (kind == "device") {
            return "/dev/null";
        } else if (kind == "link") {
            const std::string target = write("target", "kept\n");
            std::filesystem::create_symlink(target, path);
        }
        return path;
    }

private:
    std::string path_;
    int socket_ = -1;
};
