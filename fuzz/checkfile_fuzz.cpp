// A libFuzzer target for the check-file reader, which reads files a
// technician wrote: any bytes are read without a crash; a file that reads is
// written back as a file that reads to an equal one, in the same bytes again;
// its device values are checked; and a short run of it is fed the input as
// received bytes, so that the engine sees every step a file can hold.

#include "check/checkrun.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const base::Result<check::CheckFile> result = check::parseCheckFile(input, "fuzz.toml");
    if (!result) {
        return 0;
    }
    const check::CheckFile* file = &*result;
    const std::string written = check::writeCheckFile(*file);
    const base::Result<check::CheckFile> again = check::parseCheckFile(written, "written.toml");
    if (!again || !(*again == *file) || check::writeCheckFile(*again) != written) {
        std::abort();
    }
    const check::DeviceValues values = {{"id", "A1"}, {"name", "door"}, {"media", "B"}};
    // Only that it returns matters here.
    static_cast<void>(check::checkDeviceValues(*file, values));

    // Bounded: a file may ask for a million step runs, each a few steps here.
    check::CheckRun run(*file, values);
    check::Instant now;
    run.start(now);
    for (int i = 0; i < 64 && !run.finished(); ++i) {
        run.received(input.substr(0, 512), check::Chunk::Datagram, now);
        now = run.nextDeadline().value_or(now);
        run.advance(now);
        static_cast<void>(run.takeSends());
        static_cast<void>(run.takeResults());
    }
    run.abort("stopped", now);
    return 0;
}
