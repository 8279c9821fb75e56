// Objects a command is done with, when the program ends right after it.
// A large run leaves hundreds of thousands of small blocks behind (keys,
// record sets, kept models, stored entries' descriptions); freeing them one
// by one takes a fifth of a second that the end of the process gives back at
// once. split-run's main asks for them to be kept to the end; any other
// caller frees them where it lets them go. Kept objects stay reachable from
// a global, so leak checkers do not count them, and their destructors never
// run: only objects whose destructors merely free memory may be let go.
#ifndef SPLITRUN_KEPT_TO_EXIT_H
#define SPLITRUN_KEPT_TO_EXIT_H

#include <memory>

namespace splitrun {

// From now on, objects let go are kept until the process ends. Called once,
// by a program's main before its command.
void keepLetGoObjectsToExit();

// Lets `object` go: kept to the end of the process when asked for, freed
// here otherwise. Thread-safe.
void letGo(std::shared_ptr<const void> object);

template <typename T>
void letGo(std::unique_ptr<T> object)
{
    letGo(std::shared_ptr<const void>(std::move(object)));
}

}  // namespace splitrun

#endif
