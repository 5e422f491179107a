#include "trafficframes.h"

#include "trafficformat.h"

#include "traffic/framestream.h"

namespace app::trafficframes
{

namespace
{

QString joined(std::string_view frames, QLatin1StringView between)
{
    QString text = trafficformat::text(frames);
    text.replace(QLatin1Char(traffic::FrameStream::kItemSeparator), between);
    return text;
}

} // namespace

QString oneLine(std::string_view frames)
{
    return joined(frames, QLatin1StringView(kOnOneLine.data(), kOnOneLine.size()));
}

QString cell(std::string_view frames, std::size_t limit)
{
    QString text = oneLine(frames.substr(0, limit));
    if (frames.size() > limit)
        text += QChar(0x2026);
    return text;
}

QString lines(std::string_view frames)
{
    return frames.empty() ? QString() : joined(frames, QLatin1StringView("\n")) + u'\n';
}

} // namespace app::trafficframes
