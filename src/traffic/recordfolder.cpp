#include "recordfolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace traffic
{

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr std::string_view kExtension = ".log";
constexpr std::size_t kTimePrefixSize = 20; // 20261207T081502.123Z
constexpr std::size_t kMaxLabelPartSize = 64;
constexpr int kMaxNameTries = 1000;

// "20261207T081502.123Z"
std::string fileTime(std::chrono::sys_time<std::chrono::milliseconds> millis)
{
    const auto days = std::chrono::floor<std::chrono::days>(millis);
    const std::chrono::year_month_day date{days};
    const std::chrono::hh_mm_ss clock{millis - days};
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%04d%02u%02uT%02d%02d%02lld.%03lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()),
                  static_cast<long long>(clock.subseconds().count()));
    return text.data();
}

std::string safePart(std::string_view text, bool lowerCase)
{
    std::string part;
    for (const char c : text.substr(0, kMaxLabelPartSize)) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-';
        char shown = keep ? c : '-';
        if (lowerCase && shown >= 'A' && shown <= 'Z') {
            shown = static_cast<char>(shown - 'A' + 'a');
        }
        part.push_back(shown);
    }
    // "." and ".." alone are names of folders, not parts of a name.
    if (part.find_first_not_of('.') == std::string::npos) {
        part.assign(part.size(), '-');
    }
    return part;
}

// A failed call's errno as the record folder's fault about `path`; errno is
// read before the path's text is made.
net::Error failure(net::Fault fault, const fs::path& path)
{
    const int code = errno;
    return net::Error(fault, code, path.string());
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

RecordFolder::RecordFolder(fs::path folder, std::uint64_t limitBytes)
    : folder_(std::move(folder)), limit_(std::max(limitBytes, kMinimumLimitBytes))
{
}

RecordFolder::~RecordFolder()
{
    closeFile();
}

net::Error RecordFolder::prepare()
{
    // Each missing step is made with 0700 itself, so no folder on the way is
    // ever open to others, not even for a moment.
    fs::path step;
    for (const fs::path& part : folder_) {
        step /= part;
        if (::mkdir(step.c_str(), kFolderMode) != 0 && errno != EEXIST) {
            return failure(net::Fault::CannotCreateFolder, folder_);
        }
    }
    struct stat info {
    };
    if (::stat(folder_.c_str(), &info) != 0) {
        return failure(net::Fault::CannotCreateFolder, folder_);
    }
    if (!S_ISDIR(info.st_mode)) {
        return net::Error(net::Fault::NotAFolder, ENOTDIR, folder_.string());
    }
    std::error_code error;
    fs::directory_iterator entry(folder_, error);
    files_.clear();
    used_ = 0;
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        std::error_code sizeError;
        if (!isRecordFileName(name) || !entry->is_regular_file(sizeError)) {
            continue;
        }
        const std::uint64_t size = entry->file_size(sizeError);
        files_.push_back({name, sizeError ? 0 : size});
        used_ += files_.back().size;
    }
    if (error) {
        return net::Error(net::Fault::CannotListFolder, error.value(), folder_.string());
    }
    std::sort(files_.begin(), files_.end(),
              [](const File& a, const File& b) { return a.name < b.name; });
    return {};
}

net::Error RecordFolder::startFile(std::string_view label,
                                   std::chrono::system_clock::time_point start,
                                   std::string_view header)
{
    closeFile();
    while (used_ + header.size() > limit_ && deleteOldest()) {
    }
    // Every file gets a later time than the one before, so that the names
    // sort in the order the files were started, also when several start
    // within one millisecond or the clock steps back.
    auto time = std::max(std::chrono::floor<std::chrono::milliseconds>(start), lastStart_ + 1ms);
    const std::string suffix = "_" + std::string(label) + std::string(kind_.extension);
    for (int attempt = 0; attempt < kMaxNameTries; ++attempt, time += 1ms) {
        const std::string name = fileTime(time) + suffix;
        const fs::path path = folder_ / name;
        // Created with its final mode and never widened: O_EXCL also keeps a
        // link planted under the name from being followed.
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kFileMode);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            net::Error failed = failure(net::Fault::CannotCreateFile, path);
            currentPath_ = path;
            return failed;
        }
        lastStart_ = time;
        fd_ = fd;
        currentPath_ = path;
        currentLabel_ = std::string(label);
        currentSize_ = 0;
        files_.push_back({name, 0});
        net::Error written = append(header).result;
        currentHeaderSize_ = currentSize_;
        return written;
    }
    currentPath_ = folder_ / (fileTime(time) + suffix);
    return net::Error(net::Fault::CannotCreateFile, EEXIST, currentPath_.string());
}

bool RecordFolder::fits(std::uint64_t bytes) const
{
    const bool fileHasRoom =
        currentSize_ + bytes <= limit_ / 4 || currentSize_ <= currentHeaderSize_;
    return fd_ >= 0 && fileHasRoom && used_ + bytes <= limit_;
}

bool RecordFolder::makeRoom(std::uint64_t bytes, std::chrono::system_clock::time_point now,
                            std::string_view header, net::Error& result)
{
    result = {};
    if (fd_ < 0) {
        return false;
    }
    if (currentSize_ + bytes > limit_ / 4 && currentSize_ > currentHeaderSize_) {
        result = startFile(currentLabel_, now, header);
        if (!result.ok()) {
            return false;
        }
    }
    while (used_ + bytes > limit_) {
        if (!deleteOldest()) {
            return false;
        }
    }
    return true;
}

RecordFolder::Appended RecordFolder::append(std::string_view lines)
{
    std::size_t landed = 0;
    while (landed < lines.size()) {
        const ssize_t n = ::write(fd_, lines.data() + landed, lines.size() - landed);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const net::Error failed = failure(net::Fault::CannotWrite, currentPath_);
            // A cut-off line is no record to a reader of the file; without
            // it the file ends with the last whole record. (Should the cut
            // fail too, the stray piece stays, and is still not counted.)
            const std::size_t lastEnd = lines.substr(0, landed).rfind('\n');
            const std::size_t whole = kind_.wholeSize != nullptr
                                          ? kind_.wholeSize(lines.substr(0, landed))
                                      : lastEnd == std::string_view::npos ? 0
                                                                          : lastEnd + 1;
            if (whole < landed) {
                cutEnd(landed - whole);
            }
            return {whole, failed};
        }
        landed += static_cast<std::size_t>(n);
        currentSize_ += static_cast<std::uint64_t>(n);
        used_ += static_cast<std::uint64_t>(n);
        files_.back().size += static_cast<std::uint64_t>(n);
    }
    return {landed, {}};
}

bool RecordFolder::cutEnd(std::uint64_t bytes)
{
    const std::uint64_t size = currentSize_ - std::min(currentSize_, bytes);
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0 ||
        ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0) {
        return false;
    }
    const std::uint64_t cut = currentSize_ - size;
    currentSize_ = size;
    used_ -= std::min(used_, cut);
    files_.back().size -= std::min(files_.back().size, cut);
    return true;
}

void RecordFolder::closeFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    currentSize_ = 0;
    currentHeaderSize_ = 0;
}

bool RecordFolder::deleteOldest()
{
    const std::size_t candidates = fd_ >= 0 ? files_.size() - 1 : files_.size();
    if (candidates == 0) {
        return false;
    }
    const File oldest = files_.front();
    files_.erase(files_.begin());
    // A file someone else removed already frees its room just the same.
    if (::unlink((folder_ / oldest.name).c_str()) == 0 || errno == ENOENT) {
        used_ -= std::min(used_, oldest.size);
        ++deleted_;
    }
    return true;
}

std::string RecordFolder::labelOf(std::string_view connectText)
{
    const std::size_t space = connectText.find(' ');
    if (connectText.empty() || space == std::string_view::npos) {
        return connectText.empty() ? std::string(kNoConnectionLabel) : safePart(connectText, true);
    }
    const std::string_view protocol = connectText.substr(0, space);
    const std::string_view peer = connectText.substr(space + 1);
    const std::size_t colon = peer.rfind(':');
    std::string label = safePart(protocol, true) + "_";
    if (colon == std::string_view::npos) {
        return label + safePart(peer, false);
    }
    return label + safePart(peer.substr(0, colon), false) + "_" +
           safePart(peer.substr(colon + 1), false);
}

bool RecordFolder::isRecordFileName(std::string_view name)
{
    const auto endsWith = [&](std::string_view extension) {
        return name.size() > kTimePrefixSize + 1 + extension.size() &&
               name.substr(name.size() - extension.size()) == extension;
    };
    if (!endsWith(kExtension) && !endsWith(kPcapngExtension)) {
        return false;
    }
    // yyyymmddThhmmss.mmmZ_
    for (std::size_t i = 0; i < kTimePrefixSize; ++i) {
        const char c = name[i];
        const bool ok = i == 8 ? c == 'T' : i == 15 ? c == '.' : i == 19 ? c == 'Z' : isDigit(c);
        if (!ok) {
            return false;
        }
    }
    return name[kTimePrefixSize] == '_';
}

} // namespace traffic
