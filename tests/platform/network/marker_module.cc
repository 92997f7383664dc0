// A module that stands for foreign code: loading it creates the file named by
// HOSTLORE_TEST_MARKER, so a test can tell whether a program loaded it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

__attribute__((constructor)) static void LeaveMarker() {
  if (const char* marker = std::getenv("HOSTLORE_TEST_MARKER")) ::close(::open(marker, O_CREAT | O_WRONLY, 0666));
}
