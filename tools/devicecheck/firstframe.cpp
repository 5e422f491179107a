#include "firstframe.h"

#include "protocol/framedecoder.h"

#include <algorithm>

namespace devicetools
{

std::optional<std::string> FirstFrame::feed(std::string_view bytes, bool datagram)
{
    bytes_.append(bytes.substr(0, kMaxBytes - std::min(kMaxBytes, bytes_.size())));
    if (id_) {
        return id_;
    }
    const auto look = [this](std::string_view record) {
        if (!id_) {
            if (const std::optional<protocol::DecodedFrame> frame =
                    protocol::FrameDecoder::decode(record)) {
                id_ = frame->fields.deviceId;
            }
        }
    };
    splitter_.feed(bytes, look);
    if (datagram) {
        splitter_.finish(look);
    }
    return id_;
}

} // namespace devicetools
