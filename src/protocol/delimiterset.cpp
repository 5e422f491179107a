#include "delimiterset.h"

namespace protocol
{

DelimiterSet& DelimiterSet::instance()
{
    static DelimiterSet set;
    return set;
}

std::int32_t DelimiterSet::switchDelimiterMode(std::string_view modeText)
{
    const std::int32_t flag = modeText == kReleaseModeText ? 1 : 0;
    setModeFlag(flag);
    return flag;
}

} // namespace protocol
