#include "check/fieldtext.h"

#include "rowname.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>

namespace
{

struct WildcardRow {
    const char* name;
    std::string pattern;
    std::string text;
    bool matches;
};

void PrintTo(const WildcardRow& row, std::ostream* out)
{
    *out << row.name;
}

class Wildcards : public testing::TestWithParam<WildcardRow>
{
};

} // namespace

TEST_P(Wildcards, MatchWholeFields)
{
    EXPECT_EQ(check::wildcardMatch(GetParam().pattern, GetParam().text), GetParam().matches);
}

const WildcardRow kWildcardRows[] = {
    {"exact", "ENT", "ENT", true},
    {"exact is whole", "EN", "ENT", false},
    {"star alone matches empty", "*", "", true},
    {"star at end", "Welcome*", "Welcome home", true},
    {"star at start", "*home", "Welcome home", true},
    {"star must backtrack", "*a*b", "xaxbxab", true},
    {"star cannot skip the tail", "a*c", "abcb", false},
    {"question is one byte", "A?", "A1", true},
    {"question is not none", "A?", "A", false},
    {"question is not two", "A?", "A12", false},
    {"empty matches empty only", "", "x", false},
    {"stars in a row", "a**b", "ab", true},
};
INSTANTIATE_TEST_SUITE_P(Rows, Wildcards, testing::ValuesIn(kWildcardRows), rowName<WildcardRow>);

TEST(Placeholders, FillFromValuesAndNameTheMissingOne)
{
    const std::map<std::string, std::string, std::less<>> values = {{"id", "A1"},
                                                                    {"door.name", "{x}"}};
    const check::ValueLookup lookup = [&](std::string_view name) -> const std::string* {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : &found->second;
    };
    EXPECT_EQ(*check::fillPlaceholders("{id}-{door.name}-{{id}}", lookup), "A1-{x}-{id}}");
    EXPECT_EQ(check::fillPlaceholders("{id}{zone}", lookup).error().text(), "no value for {zone}");
    EXPECT_EQ(check::placeholderNames("a{id}b{{c}{x_1}"), (std::vector<std::string>{"id", "x_1"}));
    for (const char* broken : {"{", "a{}", "{id", "{i d}", "x{{{"}) {
        EXPECT_FALSE(check::placeholderError(broken).ok()) << broken;
    }
}
