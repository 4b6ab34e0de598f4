// Bounded reads from the file and from the map in memory.
#include "reader/checked_cursor.hpp"

#include <cerrno>

bool CheckedFile::read_at(int64_t position, void *buffer, int64_t size) {
  if (!contains(position, size)) return false;
  if (!seek_to(position)) return false;
  errno = 0;
  return fgetm(file_, buffer, size) == 1;
}

bool CheckedFile::seek_to(int64_t position) {
  if (!contains(position, 0)) return false;
  errno = 0;
  return fputp(file_, position) == position;
}
