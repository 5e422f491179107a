#include "framedescription.h"

#include "bytetext.h"

#include "traffic/frametext.h"

namespace devicetools
{

std::string describeFrame(const protocol::DecodedFrame& frame)
{
    return traffic::frameText(frame);
}

std::string describeRecord(std::string_view record)
{
    return "- not a frame, " + std::to_string(record.size()) + " bytes: " + hexBytes(record) +
           " \"" + escapedAscii(record.substr(0, kHexDumpLimit), true) + '"';
}

} // namespace devicetools
