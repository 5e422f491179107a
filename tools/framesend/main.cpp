// framesend: sends one frame or text as the console does. See --help.

#include "bytetext.h"
#include "commandline.h"
#include "framesender.h"

#include <iostream>

int main(int argc, char** argv)
{
    using namespace devicetools;
    SenderOptions options;
    std::string error;
    CommandLine line(argc, argv);
    switch (parseSenderArguments(line, options, error)) {
    case ParseResult::Help:
        std::cout << senderUsage();
        return FrameSender::kAnswerPassed;
    case ParseResult::UsageError:
        std::cerr << "framesend: " << escapedText(error) << "\nTry framesend --help.\n";
        return FrameSender::kUsageOrConnectionError;
    case ParseResult::Run:
        break;
    }
    FrameSender sender(std::move(options));
    return sender.run(std::cout, std::cerr);
}
