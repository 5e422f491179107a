#include "tls/certificateinfo.h"
#include "tls/knowndevices.h"
#include "tls/selfsigned.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace
{

TEST(KnownDevices, PinsSurviveASaveAndOddLinesAreKept)
{
    char name[] = "/tmp/knownXXXXXX";
    const std::string folder = ::mkdtemp(name);
    const std::string path = folder + "/known-devices";
    ASSERT_EQ(tls::KnownDevices::load(path)->size(), 0u); // no file yet
    tls::KnownDevices known = tls::KnownDevices::parse("# a comment\n"
                                                       "10.0.0.5:21210 " +
                                                       std::string(64, 'c') +
                                                       "\n"
                                                       "broken line\n");
    EXPECT_EQ(known.size(), 1u);
    known.pin("[::1]:21210", "sha256:" + std::string(64, 'd'));
    known.pin("10.0.0.5:21210", std::string(64, 'e')); // replaces the older pin
    known.pin("10.0.0.6:1", "not a fingerprint");      // ignored
    ASSERT_TRUE(known.save(path).ok());
    struct stat status {
    };
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    const base::Result<tls::KnownDevices> back = tls::KnownDevices::load(path);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->size(), 2u);
    EXPECT_EQ(*back->pinned("10.0.0.5:21210"),
              tls::CertificateInfo::normalFingerprint(std::string(64, 'e')));
    EXPECT_EQ(*back->pinned("[::1]:21210"),
              tls::CertificateInfo::normalFingerprint(std::string(64, 'D')));
    EXPECT_FALSE(back->pinned("10.0.0.6:1"));
    EXPECT_NE(back->text().find("broken line"), std::string::npos);
    std::filesystem::remove_all(folder);
}

TEST(KnownDevices, TheOwnCertificateIsMadeOnceAndKeptOwnerOnly)
{
    char name[] = "/tmp/ownXXXXXX";
    const std::string folder = ::mkdtemp(name);
    const auto first = tls::ownCredentials(folder + "/tls", "console");
    ASSERT_TRUE(first.ok()) << first.error().text();
    const auto again = tls::ownCredentials(folder + "/tls", "console");
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(first->certificatePem, again->certificatePem);
    struct stat status {
    };
    ASSERT_EQ(::stat((folder + "/tls/key.pem").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    std::filesystem::remove_all(folder);
}

} // namespace
