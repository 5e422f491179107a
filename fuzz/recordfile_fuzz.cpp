// A libFuzzer target for reading record files back, text and pcapng: any
// bytes, as a whole file and cut into pieces of a size the first byte
// chooses. Neither reader may crash or keep more than its bound, and the
// pieces must give exactly what the whole gives (a file is read a piece at a
// time, and where the pieces end must not matter).

#include "traffic/pcapngrecordparser.h"
#include "traffic/recordfilereader.h"
#include "traffic/textrecordparser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace
{

constexpr traffic::RecordLimits kLimits{.maxRecords = 8, .maxBytes = 64 * 1024};

bool same(const std::vector<traffic::Record>& a, const std::vector<traffic::Record>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].time != b[i].time || a[i].kind != b[i].kind || a[i].bytes != b[i].bytes ||
            a[i].text != b[i].text) {
            return false;
        }
    }
    return true;
}

template <typename Parser> void check(std::string_view input, std::size_t pieceSize)
{
    traffic::RecordTail wholeTail(kLimits);
    Parser whole(wholeTail);
    whole.feed(input);
    whole.finish();
    traffic::RecordTail piecesTail(kLimits);
    Parser pieces(piecesTail);
    for (std::size_t at = 0; at < input.size(); at += pieceSize) {
        pieces.feed(input.substr(at, pieceSize));
    }
    pieces.finish();
    if (wholeTail.size() > kLimits.maxRecords || whole.damaged() != pieces.damaged() ||
        wholeTail.leftOut() != piecesTail.leftOut() || !same(wholeTail.take(), piecesTail.take())) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t pieceSize = data[0] % 64 + 1;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    check<traffic::TextRecordParser>(input, pieceSize);
    check<traffic::PcapngRecordParser>(input, pieceSize);
    const auto read = traffic::RecordFileReader::readBytes(input, kLimits);
    if (read && read->records.size() > kLimits.maxRecords) {
        std::abort();
    }
    return 0;
}
