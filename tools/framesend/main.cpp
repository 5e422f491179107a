// framesend: sends one frame or text as the console does. See --help.

#include "bytetext.h"
#include "commandline.h"
#include "framesender.h"

#include <iostream>

int main(int argc, char** argv)
{
    using namespace devicetools;
    SenderOptions options;
    CommandLine line(argc, argv);
    const base::Result<ParseResult> parsed = parseSenderArguments(line, options);
    if (!parsed) {
        std::cerr << "framesend: " << escapedText(parsed.error().text())
                  << "\nTry framesend --help.\n";
        return FrameSender::kUsageOrConnectionError;
    }
    if (*parsed == ParseResult::Help) {
        std::cout << senderUsage();
        return FrameSender::kAnswerPassed;
    }
    FrameSender sender(std::move(options));
    return sender.run(std::cout, std::cerr);
}
