#include <malloc.h>

#include <iostream>

#include "commands.h"

int main(int argc, char** argv)
{
    // Each group's work allocates and frees blocks of a few hundred
    // kilobytes; keeping them in the heap instead of mapping and unmapping
    // each one (and trimming the heap after every free) saves the page
    // faults of touching fresh memory again and again.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    return splitrun::runCommandLine(argc, argv, std::cout, std::cerr);
}
