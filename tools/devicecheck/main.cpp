// devicecheck: checks many devices at once with a check file. See --help.

#include "checkprogram.h"

#include <iostream>

int main(int argc, char** argv)
{
    return devicetools::CheckProgram::run(argc, argv, std::cout, std::cerr);
}
