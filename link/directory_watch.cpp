#include "link/directory_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace quorvel {
namespace {

// Created, removed, renamed, and the attribute changes udev makes after it
// created a node (owner and mode), which decide whether we may open it.
constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                             IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

DirectoryWatch::DirectoryWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

bool DirectoryWatch::Watch(const std::filesystem::path& directory) {
  wanted_.insert(directory.lexically_normal());
  return Place(directory.lexically_normal());
}

bool DirectoryWatch::Place(const std::filesystem::path& directory) {
  if (!fd_) return false;
  for (std::filesystem::path at = directory;; at = at.parent_path()) {
    int wd = ::inotify_add_watch(fd_.Get(), at.c_str(), kEvents);
    if (wd >= 0) {
      placed_.insert(wd);
      return at == directory;
    }
    if ((errno != ENOENT && errno != ENOTDIR) || at == at.parent_path() || at.empty()) {
      return false;
    }
  }
}

void DirectoryWatch::Clear() {
  for (int wd : placed_) ::inotify_rm_watch(fd_.Get(), wd);
  placed_.clear();
  wanted_.clear();
  Drain();
}

DirectoryWatch::Changes DirectoryWatch::Drain() {
  Changes changes;
  if (!fd_) return changes;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd_.Get(), buffer, sizeof buffer);
    if (got <= 0) break;
    changes.any = true;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & IN_IGNORED) placed_.erase(event->wd);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  // Adding a watch that exists already returns the same one, so placing
  // everything again is cheap and catches directories made meanwhile.
  changes.allWatched = true;
  for (const auto& directory : wanted_) changes.allWatched &= Place(directory);
  return changes;
}

}  // namespace quorvel
