// What a link's threads have to tell the window, posted so that none of them
// ever waits for it: messages for the user ("Write com fail!", a file that
// cannot be read) and word that the counters moved. The window watches
// Descriptor() and takes the news on its own thread.
//
// A message is shown once while it is news: posting a text that waits to be
// shown, or that the window shows now, adds nothing; once the window says it
// was dismissed, the same text can come again. So a flood whose every echo
// fails to write costs the user one box at a time, and reading goes on
// meanwhile.
//
// Any thread posts; one short lock.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/news_flag.h"

namespace quorvel {

class LinkNews {
 public:
  // Any thread.
  void PostMessage(std::string text);
  void CountersMoved() { flag_.Raise(); }

  // The window: readable while there is news.
  int Descriptor() const { return flag_.Descriptor(); }
  // Quiets the descriptor and takes the messages waiting, oldest first; they
  // count as shown until Dismissed. Read the counters after this.
  std::vector<std::string> Take();
  // The user dismissed `text` (or it was printed): it may come again.
  void Dismissed(const std::string& text);

 private:
  NewsFlag flag_;
  std::mutex mutex_;
  std::vector<std::string> waiting_;
  std::vector<std::string> showing_;
};

}  // namespace quorvel
