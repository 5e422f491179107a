// Opening benchmark of record files: writes a 64 MB text record and a 64 MB
// pcapng record of a device's traffic with the console's own writers (the
// line format and PcapngRecords), then opens each several times, reading
// only (RecordFileReader) and in the review window until its table holds
// the records (RecordReviewWindow, which reads on a thread of its own). Prints
// each time next to the goal (under 3 s) and always exits 0.
//
// Usage: recordopen_bench [megabytes] [repeats]   (default 64 and 3)
// Without a display it runs on Qt's offscreen platform.

#include "app/traffic/recordreviewwindow.h"
#include "app/traffic/trafficmodel.h"

#include "traffic/pcapngrecords.h"
#include "traffic/recordfilereader.h"
#include "traffic/recordline.h"

#include "eventpump.h"
#include "temporaryfolder.h"

#include <QApplication>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kGoalSeconds = 3.0;
constexpr auto kOpenLimit = 60s;

// What a device and the console exchange: mostly frames received (now and
// then with control bytes and a NUL), a command sent every tenth record.
traffic::Record sampleRecord(long i, std::chrono::system_clock::time_point start)
{
    traffic::Record record;
    record.time = start + std::chrono::microseconds(i * 1237);
    if (i % 10 == 9) {
        record.kind = traffic::RecordKind::Write;
        record.bytes = "[1AB=REQ-status " + std::to_string(i) + "]\r\n";
        record.bytes.push_back('\0');
        record.text = std::to_string(record.bytes.size()) + " bytes written";
    } else {
        record.kind = traffic::RecordKind::Read;
        record.bytes = "\x07"
                       "1AB\x08"
                       "ACK\x09"
                       "card 04:a2:19:7f:" +
                       std::to_string(i) + " door 2 granted\r\n";
        record.bytes.push_back('\0');
        record.text = "frame check: passed";
    }
    return record;
}

// Writes records until the file holds `bytes`; returns the record count.
long writeRecord(const std::filesystem::path& path, traffic::RecordFileReader::Format format,
                 std::uint64_t bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    const auto start =
        std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
    const bool pcapng = format == traffic::RecordFileReader::Format::Pcapng;
    traffic::PcapngRecords packets;
    std::string buffer =
        pcapng ? traffic::PcapngRecords::fileHeader() : std::string(traffic::kRecordFileHeader);
    const auto add = [&](const traffic::Record& record) {
        if (pcapng)
            packets.append(buffer, record);
        else
            traffic::appendRecordLine(buffer, record);
    };
    add({start, traffic::RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210"});
    add({start, traffic::RecordKind::Connected, {}, "127.0.0.1:40000"});
    std::uint64_t written = 0;
    long count = 2;
    while (written + buffer.size() < bytes) {
        if (buffer.size() >= 1 << 20) {
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            written += buffer.size();
            buffer.clear();
        }
        add(sampleRecord(count++, start));
    }
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    return count;
}

double seconds(Clock::duration elapsed)
{
    return std::chrono::duration<double>(elapsed).count();
}

void report(const char* what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("  %-28s %.2f .. %.2f s over %zu runs (goal < %.0f s: %s)\n", what, times.front(),
                times.back(), times.size(), kGoalSeconds,
                times.back() < kGoalSeconds ? "met" : "MISSED");
}

void bench(const std::filesystem::path& path, traffic::RecordFileReader::Format format,
           std::uint64_t bytes, int repeats)
{
    const auto writing = Clock::now();
    const long records = writeRecord(path, format, bytes);
    std::printf("%s record: %.1f MB, %ld records, written in %.2f s\n",
                format == traffic::RecordFileReader::Format::Pcapng ? "pcapng" : "text",
                static_cast<double>(std::filesystem::file_size(path)) / (1 << 20), records,
                seconds(Clock::now() - writing));
    std::vector<double> reading;
    std::vector<double> window;
    for (int run = 0; run < repeats; ++run) {
        auto begin = Clock::now();
        const auto contents = traffic::RecordFileReader::readFile(path);
        reading.push_back(seconds(Clock::now() - begin));
        if (!contents) {
            std::printf("  cannot read: %s\n", contents.error().text().c_str());
            return;
        }
        if (run == 0)
            std::printf("  kept %zu records, %llu older left out, %llu damaged\n",
                        contents->records.size(),
                        static_cast<unsigned long long>(contents->leftOut),
                        static_cast<unsigned long long>(contents->damaged));

        begin = Clock::now();
        app::RecordReviewWindow review(QFile::decodeName(path.c_str()));
        review.show();
        bool done = false;
        QObject::connect(&review, &app::RecordReviewWindow::readFinished, [&done] { done = true; });
        if (!pumpUntil([&done] { return done; }, kOpenLimit)) {
            std::printf("  the review window did not finish within %lld s\n",
                        static_cast<long long>(kOpenLimit.count()));
            return;
        }
        window.push_back(seconds(Clock::now() - begin));
    }
    report("read (RecordFileReader)", reading);
    report("review window, table full", window);
}

} // namespace

int main(int argc, char** argv)
{
    const TemporaryFolder folder;
    useRunFolderAndPlatform((folder.path() / "run").string());
    QApplication application(argc, argv);
    const std::uint64_t megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 64;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    std::printf("Opening record files of %llu MB (Qt platform \"%s\")\n",
                static_cast<unsigned long long>(megabytes),
                qPrintable(QGuiApplication::platformName()));
    bench(folder.path() / "traffic.log", traffic::RecordFileReader::Format::Text, megabytes << 20,
          repeats);
    bench(folder.path() / "traffic.pcapng", traffic::RecordFileReader::Format::Pcapng,
          megabytes << 20, repeats);
    return 0;
}
