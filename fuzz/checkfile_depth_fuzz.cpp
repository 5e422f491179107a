// A libFuzzer target for how deep a check file may nest: the input is a
// recipe, each pair of bytes a piece of TOML (a key part, a dot, a header
// bracket, an array or inline-table opening, a closing, a string, a line end)
// and how often it repeats, so that short inputs grow into keys, headers,
// arrays and inline tables tens of thousands of levels deep, mixed. The
// reader must refuse or read every one of them without running the stack
// out, and what it refuses for depth it refuses with a line and a column.

#include "check/checkfile.h"
#include "check/tomldepth.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace
{

constexpr std::array<std::string_view, 12> kPieces = {"a", ".", "[", "[[", "]",     "]]",
                                                      "{", "}", "=", ",",  "\"k\"", "\n"};
constexpr std::size_t kMaxText = 512 * 1024;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i + 1 < size && text.size() < kMaxText; i += 2) {
        const std::string_view piece = kPieces[data[i] % kPieces.size()];
        // Up to 64 * 255 repeats: deep enough to pass any bound many times.
        const std::size_t repeats = 1 + std::size_t{data[i + 1]} * 64;
        for (std::size_t n = 0; n < repeats && text.size() < kMaxText; ++n) {
            text += piece;
        }
    }
    const base::Result<check::CheckFile> result = check::parseCheckFile(text, "deep.toml");
    // Too deep: refused by the pre-scan, at a line and column, before the
    // parser could recurse.
    if (const base::Error tooDeep = check::TomlDepth::check(text, "deep.toml"); !tooDeep.ok()) {
        if (result.ok() || result.error() != tooDeep || tooDeep.detail() == "deep.toml") {
            std::abort();
        }
    }
    return 0;
}
