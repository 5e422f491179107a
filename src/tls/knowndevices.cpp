#include "knowndevices.h"

#include "certificateinfo.h"

#include "fileio/regularfile.h"
#include "fileio/safefile.h"

#include <sys/stat.h>

#include <cerrno>
#include <sstream>

namespace tls
{

base::Result<KnownDevices> KnownDevices::load(const std::string& path)
{
    struct stat status {
    };
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT)
        return KnownDevices();
    base::Result<std::string> text = fileio::RegularFile::readAll(path, kMaxBytes);
    if (!text)
        return text.error();
    return parse(*text);
}

KnownDevices KnownDevices::parse(const std::string& text)
{
    KnownDevices known;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string device, fingerprint, extra;
        words >> device >> fingerprint;
        const std::string canonical = CertificateInfo::normalFingerprint(fingerprint);
        if (device.empty() || device[0] == '#' || canonical.empty() || (words >> extra)) {
            if (!line.empty())
                known.unknownLines_ += line + "\n";
            continue;
        }
        known.pins_[device] = canonical;
    }
    return known;
}

std::optional<std::string> KnownDevices::pinned(const std::string& device) const
{
    const auto found = pins_.find(device);
    if (found == pins_.end())
        return std::nullopt;
    return found->second;
}

void KnownDevices::pin(const std::string& device, const std::string& fingerprint)
{
    const std::string canonical = CertificateInfo::normalFingerprint(fingerprint);
    if (!device.empty() && !canonical.empty())
        pins_[device] = canonical;
}

bool KnownDevices::forget(const std::string& device)
{
    return pins_.erase(device) != 0;
}

std::string KnownDevices::text() const
{
    std::string text = unknownLines_;
    for (const auto& [device, fingerprint] : pins_)
        text += device + " " + fingerprint + "\n";
    return text;
}

base::Error KnownDevices::save(const std::string& path) const
{
    if (base::Error folder = fileio::SafeFile::makeFoldersFor(path); !folder.ok())
        return folder;
    return fileio::SafeFile::write(path, text());
}

} // namespace tls
