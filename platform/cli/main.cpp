#include <iostream>

#include "commands.h"

int main(int argc, char** argv)
{
    return splitrun::runCommandLine(argc, argv, std::cout, std::cerr);
}
