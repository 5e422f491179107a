#include "delimiterset.h"

#include "settingsstore.h"

namespace protocol
{

DelimiterSet& DelimiterSet::instance()
{
    static DelimiterSet set;
    return set;
}

void DelimiterSet::switchDelimiterMode(std::string_view modeText, SettingsStore& settings)
{
    const std::int32_t flag = modeText == kReleaseModeText ? 1 : 0;
    setModeFlag(flag);
    // Stored at every call, also when the mode did not change, so the stored
    // value is always 0 or 1 after the first switch.
    settings.writeInt(kParamsSection, kReleaseKey, flag);
}

} // namespace protocol
