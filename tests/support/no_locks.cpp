// Preloaded into a program, makes every flock fail as a file system that
// takes no lock does (some network file systems): ENOLCK.
#include <cerrno>

extern "C" int flock(int, int) {
  errno = ENOLCK;
  return -1;
}
