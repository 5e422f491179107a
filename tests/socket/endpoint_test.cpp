#include "socket/endpoint.h"

#include <gtest/gtest.h>

#include <netinet/in.h>

namespace
{

struct ListenRow {
    const char* text;
    const char* expected; // "" for refused
};

class EndpointListenText : public testing::TestWithParam<ListenRow>
{
};

TEST_P(EndpointListenText, ParsesOrRefusesWithAReason)
{
    const ListenRow row = GetParam();
    const base::Result<net::Endpoint> endpoint = net::Endpoint::parseListen(row.text);
    if (*row.expected == '\0') {
        ASSERT_FALSE(endpoint.ok());
        EXPECT_EQ(endpoint.error().fault(), base::Fault::BadArgument);
        EXPECT_FALSE(endpoint.error().reason().empty());
        return;
    }
    ASSERT_TRUE(endpoint.ok()) << endpoint.error().text();
    EXPECT_EQ(endpoint->text(), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, EndpointListenText,
                         testing::Values(ListenRow{"21210", "0.0.0.0:21210"},
                                         ListenRow{"127.0.0.1:0", "127.0.0.1:0"},
                                         ListenRow{"[::]:21210", "[::]:21210"},
                                         ListenRow{"[::1]:7", "[::1]:7"}, ListenRow{"::1:7", ""},
                                         ListenRow{"[::1]", ""}, ListenRow{"65536", ""},
                                         ListenRow{"", ""}, ListenRow{"host.example:80", ""},
                                         ListenRow{"127.0.0.1:-1", ""}, ListenRow{"12ab", ""}));

TEST(Endpoint, EqualityAndHashFollowAddressAndPortNotPadding)
{
    const auto a = net::Endpoint::fromNumeric("127.0.0.1", 5000);
    auto b = net::Endpoint::fromNumeric("127.0.0.1", 5000);
    ASSERT_TRUE(a && b);
    reinterpret_cast<sockaddr_in*>(&b->storage)->sin_zero[3] = 9;
    EXPECT_EQ(*a, *b);
    EXPECT_EQ(net::EndpointHash()(*a), net::EndpointHash()(*b));
    EXPECT_FALSE(*a == *net::Endpoint::fromNumeric("127.0.0.1", 5001));
    EXPECT_FALSE(*a == *net::Endpoint::fromNumeric("::ffff:127.0.0.1", 5000));
    EXPECT_EQ(net::Endpoint().text(), "");
}

} // namespace
