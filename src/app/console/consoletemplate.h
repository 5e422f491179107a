#pragma once

#include <array>
#include <string_view>

namespace app
{

// The console window's template: caption, size, and every control with its id,
// kind, text and box, in template order. That order is also the tab order and
// the stacking order (earlier controls lie on top of later ones, so the group
// boxes and the white background at the end lie underneath).
//
// Boxes are x, y, width, height in dialog units (see DialogUnits). A combo
// box's height is the height of its field together with its dropped-down list.
struct ConsoleTemplate {
    // Control ids. kStatic marks controls that no code addresses.
    static constexpr int kStatic = -1;
    static constexpr int kClose = 1;
    static constexpr int kPortEdit = 1000;
    static constexpr int kPortSpin = 1001;
    static constexpr int kTcpRadio = 1002;
    static constexpr int kUdpRadio = 1003;
    static constexpr int kFreeTextEdit = 1004;
    static constexpr int kSendMessage = 1005;
    static constexpr int kConnect = 1006;
    static constexpr int kDisconnect = 1007;
    static constexpr int kMessageView = 1008;
    static constexpr int kSendThisData = 1009;
    static constexpr int kServerAddress = 1011;
    static constexpr int kMedia = 1012;
    static constexpr int kStartDisplay = 1013;
    static constexpr int kDeviceId = 1014;
    static constexpr int kData = 1015;
    static constexpr int kEqualDisplay = 1016;
    static constexpr int kCommand = 1017;
    static constexpr int kDashDisplay = 1018;
    static constexpr int kMessage = 1019;
    static constexpr int kEndOfDataDisplay = 1020;
    static constexpr int kTerminatorDisplay = 1021;
    static constexpr int kMode = 1022;

    static constexpr std::string_view kCaption =
        "Tessarin TCP/IP and UDP Client,  Version: 30.03.2014";
    static constexpr int kWidthUnits = 524;
    static constexpr int kHeightUnits = 358;

    enum class Kind {
        PushButton,
        Edit,         // single-line edit with a tab stop
        ReadOnlyEdit, // centred, read-only display with a tab stop
        Label,
        UpDown,
        Ipv4Address,
        RadioButton, // no tab stop
        WhiteRect,
        MessageView,
        GroupBox,
        SortedCombo,
        UnsortedCombo,
    };

    struct Control {
        int id;
        Kind kind;
        std::string_view text;
        int x, y, width, height;
    };

    static constexpr auto kControls = std::to_array<Control>({
        {kConnect, Kind::PushButton, "Connect\nto Server", 331, 15, 50, 26},
        {kFreeTextEdit, Kind::Edit, "", 2, 63, 255, 14},
        {kSendMessage, Kind::PushButton, "Send message", 176, 80, 83, 17},
        {kStatic, Kind::Label, "Server Port", 250, 34, 45, 10},
        {kPortEdit, Kind::Edit, "", 194, 32, 40, 14},
        {kPortSpin, Kind::UpDown, "Spin1", 234, 32, 11, 14},
        {kStatic, Kind::Label, "Server Address:", 10, 35, 51, 8},
        {kServerAddress, Kind::Ipv4Address, "IPAddress1", 75, 33, 100, 12},
        {kTcpRadio, Kind::RadioButton, "TCP", 230, 14, 30, 10},
        {kUdpRadio, Kind::RadioButton, "UDP", 198, 14, 31, 10},
        {kStatic, Kind::WhiteRect, "", 194, 11, 70, 16},
        {kMessageView, Kind::MessageView, "", 2, 99, 255, 257},
        {kDisconnect, Kind::PushButton, "Disconnect\nfrom Server", 389, 15, 50, 26},
        {kClose, Kind::PushButton, "Close\nSocket Client", 464, 12, 50, 30},
        {kStatic, Kind::Label, "Message view:", 9, 86, 54, 8},
        {kStatic, Kind::Label, "Socket Type", 268, 14, 44, 8},
        {kStatic, Kind::Label, "Write your message here:", 9, 54, 87, 8},
        {kStatic, Kind::GroupBox, "Server params ", 2, 5, 520, 44},
        {kStatic, Kind::GroupBox, "", 259, 44, 263, 312},
        {kMedia, Kind::SortedCombo, "", 267, 97, 88, 62},
        {kStartDisplay, Kind::ReadOnlyEdit, "", 267, 80, 40, 14},
        {kStatic, Kind::Label, "DEMO MOD (start)", 312, 83, 184, 8},
        {kStatic, Kind::Label, "MEDIA", 361, 98, 32, 8},
        {kDeviceId, Kind::SortedCombo, "", 267, 113, 41, 203},
        {kStatic, Kind::Label, "DEVICE ID", 312, 115, 122, 8},
        {kData, Kind::Edit, "", 267, 129, 87, 14},
        {kStatic, Kind::Label, "DATA BYTE TO SEND (0 - 36)", 361, 131, 149, 8},
        {kEqualDisplay, Kind::ReadOnlyEdit, "", 268, 147, 40, 14},
        {kStatic, Kind::Label, "DEMO MOD (equal)", 312, 149, 184, 8},
        {kCommand, Kind::SortedCombo, "", 268, 164, 88, 203},
        {kStatic, Kind::Label, "COMMAND", 362, 165, 103, 8},
        {kDashDisplay, Kind::ReadOnlyEdit, "", 268, 180, 40, 14},
        {kStatic, Kind::Label, "DEMO MOD (dash)", 312, 181, 184, 8},
        {kMessage, Kind::Edit, "", 268, 197, 189, 14},
        {kStatic, Kind::Label, "Message (0-120)", 460, 199, 58, 8},
        {kEndOfDataDisplay, Kind::ReadOnlyEdit, "", 268, 214, 40, 14},
        {kStatic, Kind::Label, "DEMO MOD (end of data)", 311, 216, 184, 8},
        {kTerminatorDisplay, Kind::ReadOnlyEdit, "", 268, 231, 40, 14},
        {kStatic, Kind::Label, "DEMO MOD (terminator)", 312, 233, 184, 8},
        {kSendThisData, Kind::PushButton, "Send this data", 345, 55, 83, 20},
        {kMode, Kind::UnsortedCombo, "", 75, 15, 101, 60},
        {kStatic, Kind::Label, "Mod:", 11, 18, 17, 8},
    });

    // The lists of the combo boxes, in the order they are added.
    static constexpr auto kMediaEntries =
        std::to_array<std::string_view>({"", "B - BARCODE", "L - LEGIC", "M - MIFARE"});
    static constexpr auto kDeviceIdEntries = std::to_array<std::string_view>(
        {"", "01", "02", "03", "04", "05", "10", "99", "A0", "A1", "B1", "1Z", "ZZ"});
    static constexpr auto kCommandEntries = std::to_array<std::string_view>(
        {"", "ENT -  Entrence", "EXT -  Exit", "DEL -  Delete", "IGN  -  Ignore", "ERR -  Error",
         "END -  End", "TIM  -  Time"});
    static constexpr auto kModeEntries = std::to_array<std::string_view>({"DEMO", "RELEASE"});
};

} // namespace app
