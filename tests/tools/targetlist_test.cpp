#include "rowname.h"
#include "targetlist.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <string>

namespace
{

using devicetools::Target;
using devicetools::TargetList;

constexpr std::uint16_t kDefaultPort = 21210;

struct TextRow {
    const char* name;
    const char* text;
    std::size_t count; // 0: a usage error
    const char* first; // label of the first device, or a part of the error
    const char* last;
};

const TextRow kTextRows[] = {
    {"address", "127.0.0.1", 1, "127.0.0.1:21210", "127.0.0.1:21210"},
    {"address_port", "127.0.0.1:4001", 1, "127.0.0.1:4001", "127.0.0.1:4001"},
    {"port_range", "127.0.0.1:4001-4003", 3, "127.0.0.1:4001", "127.0.0.1:4003"},
    {"address_range", "10.0.0.250-255", 6, "10.0.0.250:21210", "10.0.0.255:21210"},
    {"both_ranges", "10.0.0.1-2:7-8", 4, "10.0.0.1:7", "10.0.0.2:8"},
    {"host_name", "door-3.site.example", 1, "door-3.site.example:21210",
     "door-3.site.example:21210"},
    {"name_with_port", "localhost:99", 1, "localhost:99", "localhost:99"},
    {"port_zero", "127.0.0.1:0", 0, "no port", ""},
    {"port_too_big", "127.0.0.1:65536", 0, "no port", ""},
    {"port_range_backwards", "127.0.0.1:9-7", 0, "ends below its start", ""},
    {"address_range_backwards", "10.0.0.9-3", 0, "ends below its start", ""},
    {"address_range_past_255", "10.0.0.9-300", 0, "no IPv4 or IPv6 address", ""},
    {"three_parts", "10.0.1", 0, "no IPv4 or IPv6 address", ""},
    {"octet_too_big", "10.0.0.256", 0, "no IPv4 or IPv6 address", ""},
    {"broadcast", "255.255.255.255", 0, "no device has that address", ""},
    {"blank_inside", "door 3", 0, "no IPv4 or IPv6 address", ""},
    {"empty_port", "127.0.0.1:", 0, "no port", ""},
    {"too_many", "127.0.0.1-2:1-65535", 0, "more than", ""},
    {"ipv6", "2001:db8::5", 1, "[2001:db8::5]:21210", "[2001:db8::5]:21210"},
    {"ipv6_port", "[2001:db8::5]:4001", 1, "[2001:db8::5]:4001", "[2001:db8::5]:4001"},
    {"ipv6_port_range", "[::1]:4001-4003", 3, "[::1]:4001", "[::1]:4003"},
    {"ipv6_in_brackets_alone", "[::1]", 1, "[::1]:21210", "[::1]:21210"},
    {"ipv6_unclosed", "[::1:4001", 0, "lacks its ']'", ""},
    {"ipv6_malformed", "[2001:db8::zz]:4001", 0, "\"2001:db8::zz\" is no IPv6 address", ""},
    {"ipv4_in_brackets", "[127.0.0.1]:4001", 0, "only an IPv6 address stands in brackets", ""},
    // A bare IPv6 address was refused as '"" is no IPv4 address'.
    {"bare_ipv6_was_refused_as_an_empty_text", "::1", 1, "[::1]:21210", "[::1]:21210"},
    {"ipv6_bare_with_range", "::1-5", 0, "\"::1-5\" is no IPv6 address", ""},
};

class TargetText : public testing::TestWithParam<TextRow>
{
};

TEST_P(TargetText, GivesTheDevicesOrSaysWhatIsWrong)
{
    const TextRow& row = GetParam();
    TargetList list(kDefaultPort);
    const base::Error error = list.add(row.text);
    ASSERT_EQ(error.ok(), row.count > 0) << error.text();
    if (!error.ok()) {
        EXPECT_EQ(error.fault(), base::Fault::BadInput);
        EXPECT_NE(error.text().find(row.first), std::string::npos) << error.text();
        EXPECT_TRUE(list.targets().empty());
        return;
    }
    ASSERT_EQ(list.targets().size(), row.count);
    EXPECT_EQ(list.targets().front().label(), row.first);
    EXPECT_EQ(list.targets().back().label(), row.last);
    EXPECT_EQ(list.targets().front().values.at("port"),
              std::to_string(list.targets().front().port));
}

INSTANTIATE_TEST_SUITE_P(Rows, TargetText, testing::ValuesIn(kTextRows), rowName<TextRow>);

TEST(TargetText, AddressesNeedNoLookUpAndUnknownNamesStayUnresolved)
{
    TargetList list(kDefaultPort);
    ASSERT_TRUE(list.add("127.0.0.7").ok());
    ASSERT_TRUE(list.add("no-such-host.invalid").ok());
    ASSERT_TRUE(list.add("[::1]:4001").ok());
    ASSERT_TRUE(list.add("localhost:4002").ok());
    list.resolve(SOCK_STREAM);
    const std::vector<Target>& targets = list.targets();
    ASSERT_EQ(targets[0].addresses.size(), 1u);
    EXPECT_EQ(targets[0].addresses[0].text(), "127.0.0.7:21210");
    EXPECT_TRUE(targets[1].addresses.empty());
    EXPECT_NE(targets[1].lookUpProblem.find("no-such-host.invalid"), std::string::npos)
        << targets[1].lookUpProblem;
    ASSERT_EQ(targets[2].addresses.size(), 1u);
    EXPECT_EQ(targets[2].addresses[0].text(), "[::1]:4001");
    // A name gets each address it has, every one with the device's port.
    ASSERT_FALSE(targets[3].addresses.empty());
    for (const net::Endpoint& address : targets[3].addresses) {
        EXPECT_EQ(address.port(), 4002);
    }
}

struct CsvRow {
    const char* name;
    const char* text;
    const char* error; // nullptr: reads
};

const CsvRow kCsvRows[] = {
    {"quoted_fields", "host,port,name,id\n127.0.0.1,4001,\"Door, east\",\"A\"\"1\"\n", nullptr},
    {"crlf_and_bom", "\xEF\xBB\xBFHost,Port,Name,id\r\n127.0.0.1,4001,\"Door, east\",A\"1\r\n",
     nullptr},
    {"no_host_column", "address,port\n127.0.0.1,1\n", "sites.csv:1: the header names no host"},
    {"short_row", "host,port,id\n127.0.0.1,4001,A1\n127.0.0.2,4001\n",
     "sites.csv:3: 2 fields, the header has 3"},
    {"bad_port", "host,port\n127.0.0.1,4001\n\n127.0.0.2,x\n", "sites.csv:4: \"x\" is no port"},
    {"bad_host", "host\n127.0.0.1-9\n", "sites.csv:2: \"127.0.0.1-9\" is no IPv4"},
    {"open_quote", "host,name\n127.0.0.1,\"door\n", "sites.csv:2: a quote is never closed"},
    {"column_twice", "host,id,id\n", "sites.csv:1: column 3 is named twice"},
    {"empty", "", "sites.csv: no header row"},
    {"bad_fingerprint", "host,fingerprint\n127.0.0.1,SHA256:12:34\n",
     "sites.csv:2: \"SHA256:12:34\" is no SHA-256 fingerprint"},
};

class TargetCsv : public testing::TestWithParam<CsvRow>
{
};

TEST_P(TargetCsv, ReadsRowsOrNamesTheLine)
{
    const CsvRow& row = GetParam();
    TargetList list(kDefaultPort);
    const base::Error error = list.addCsv(row.text, "sites.csv");
    if (row.error != nullptr) {
        EXPECT_FALSE(error.ok());
        EXPECT_EQ(error.text().rfind(row.error, 0), 0u) << error.text();
        return;
    }
    ASSERT_TRUE(error.ok()) << error.text();
    ASSERT_EQ(list.targets().size(), 1u);
    const Target& target = list.targets().front();
    EXPECT_EQ(target.label(), "127.0.0.1:4001");
    EXPECT_EQ(target.name, "Door, east");
    EXPECT_EQ(target.values.at("id"), "A\"1");
    EXPECT_EQ(target.values.at("name"), "Door, east");
    EXPECT_EQ(target.values.at("host"), "127.0.0.1");
    EXPECT_EQ(target.values.at("port"), "4001");
}

INSTANTIATE_TEST_SUITE_P(Rows, TargetCsv, testing::ValuesIn(kCsvRows), rowName<CsvRow>);

TEST(TargetCsv, AnEmptyPortTakesTheDefaultAndANameDefaultsToTheLabel)
{
    TargetList list(kDefaultPort);
    const base::Error error = list.addCsv("host,port\n127.0.0.1,\n", "sites.csv");
    ASSERT_TRUE(error.ok()) << error.text();
    EXPECT_EQ(list.targets().front().port, kDefaultPort);
    EXPECT_EQ(list.targets().front().values.at("name"), "127.0.0.1:21210");
}

TEST(TargetCsv, RowsTakeIPv6HostsAndAPinnedFingerprint)
{
    const std::string hex(64, 'a');
    TargetList list(kDefaultPort);
    const base::Error error =
        list.addCsv("host,port,fingerprint\n[::1],4001," + hex + "\n2001:db8::5,,\n", "s.csv");
    ASSERT_TRUE(error.ok()) << error.text();
    ASSERT_EQ(list.targets().size(), 2u);
    const Target& first = list.targets().front();
    EXPECT_EQ(first.label(), "[::1]:4001");
    EXPECT_EQ(first.values.at("host"), "::1");
    EXPECT_EQ(first.pin.rfind("SHA256:AA:AA:", 0), 0u) << first.pin;
    EXPECT_EQ(list.targets().back().label(), "[2001:db8::5]:21210");
    EXPECT_TRUE(list.targets().back().pin.empty());
}

// Devices known by id: the id column instead of host, each id 2 printable
// characters and its row's {id}; without a host the label names the id.
TEST(TargetCsv, ByIdTheIdColumnNamesTheDevice)
{
    TargetList list(kDefaultPort);
    list.setKey(TargetList::Key::Id);
    ASSERT_TRUE(list.addCsv("ID,name\n07,Door\n A1 ,\n", "doors.csv").ok());
    ASSERT_EQ(list.targets().size(), 2u);
    EXPECT_EQ(list.targets().front().values.at("id"), "07");
    EXPECT_EQ(list.targets().back().values.at("id"), "A1");
    EXPECT_EQ(list.targets().back().host, "id A1");

    for (const char* text : {"name\nDoor\n", "id\n123\n", "id\n7\n"}) {
        TargetList wrong(kDefaultPort);
        wrong.setKey(TargetList::Key::Id);
        EXPECT_FALSE(wrong.addCsv(text, "doors.csv").ok()) << text;
    }
}

} // namespace
