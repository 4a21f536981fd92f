// Tells when entries appear in, leave or change in a few directories, through
// one descriptor an event loop or poll() can wait on (inotify). A directory
// that does not exist yet is watched through its nearest existing ancestor,
// so its creation is seen as well. One thread uses an instance.
#pragma once

#include <filesystem>
#include <set>

#include "core/unique_fd.h"

namespace quorvel {

class DirectoryWatch {
 public:
  DirectoryWatch();  // Descriptor() is -1 if the kernel refused one
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;

  int Descriptor() const { return fd_.Get(); }

  // Adds `directory` to the watched set. Returns whether the directory
  // itself is watched (not an ancestor, no failure).
  bool Watch(const std::filesystem::path& directory);
  // Stops watching everything.
  void Clear();

  // Takes every pending event and watches again what now exists (a
  // directory that was created, or removed and made again). Returns whether
  // anything happened, and whether every directory is watched itself.
  struct Changes {
    bool any = false;
    bool allWatched = false;
  };
  Changes Drain();

 private:
  bool Place(const std::filesystem::path& directory);

  UniqueFd fd_;
  std::set<std::filesystem::path> wanted_;
  std::set<int> placed_;
};

}  // namespace quorvel
