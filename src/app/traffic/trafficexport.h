#pragma once

#include "base/error.h"
#include "traffic/trafficrecord.h"

#include <QString>

#include <string_view>
#include <vector>

namespace app
{

// The Traffic window's records as text: the tab-separated lines that Copy puts
// on the clipboard and the files that "Save as…" writes.
//
// Each function takes the records' frames as well (the Traffic window's
// Frames column, TrafficModel::frames()): `frames` holds one entry per record,
// in the same order, or is empty for none.
//
// Copy: one line a record,
// "date time<TAB>direction<TAB>length<TAB>text<TAB>hex<TAB>frames" with the
// columns as the table shows them (the date added to the time; the frames
// whole, on one line).
//
// CSV (RFC 4180, UTF-8, CR LF line ends): a header line, then per record the
// fields of the record files' line format (traffic/recordline.h): UTC time,
// direction, kind, length, the bytes as visible text, the bytes in hex and the
// note, which is the record's text as it is; then its frames on one line. The
// hex field gives the exact bytes back; it starts with `'` so that a
// spreadsheet keeps it as text.
//
// Copy and CSV: a text, note or frames field that a spreadsheet would take as
// a formula (starting with `=`, `+`, `-`, `@`, TAB or CR) gets a leading `'`,
// which makes it plain text there.
//
// Text log: exactly a record file's content, its header comment first, so the
// core's recordFromLine() reads it back; a record with frames is followed by
// a comment line "# frames<TAB>" and its frames on one line.
//
// pcapng: exactly what a record file of the pcapng format holds for these
// records (traffic::PcapngRecords): one packet per block sent or received,
// each record's text in its packet's comment, so a capture tool opens it.
//
// Files are written whole or not at all (a temporary file beside it, synced,
// then renamed over the name) and are readable and writable by the owner only.
// A name that is a link (even a dangling one) or no regular file is refused,
// never written through. On a file system without permissions (FAT) the save
// goes on and `warning` says the file may be readable by others. Any thread.
class TrafficExport
{
public:
    enum class Format { TextLog, Csv, Pcapng };

    using FramesList = std::vector<std::string_view>;
    static constexpr std::string_view kFramesComment = "# frames\t";

    static QString copyText(const std::vector<const traffic::Record*>& records,
                            const FramesList& frames = {});

    // The warning to show once the file is written (empty unless it could not
    // be made owner-only), or why it could not be written.
    static base::Result<QString> save(const QString& path, Format format,
                                      const std::vector<const traffic::Record*>& records,
                                      const FramesList& frames = {});

    // The warning of a save whose chmod to owner-only ended with errno
    // `chmodError` (0: it worked; EPERM: a file system without permissions,
    // such as FAT); empty for 0. save() goes on whatever the error.
    static QString permissionWarning(const QString& path, int chmodError);

    static QString csvHeader();
    static QString csvLine(const traffic::Record& record, std::string_view frames = {});
};

} // namespace app
