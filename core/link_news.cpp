#include "core/link_news.h"

#include <algorithm>

namespace quorvel {

void LinkNews::PostMessage(std::string text) {
  {
    std::lock_guard guard(mutex_);
    auto known = [&](const std::vector<std::string>& texts) {
      return std::find(texts.begin(), texts.end(), text) != texts.end();
    };
    if (known(waiting_) || known(showing_)) return;
    waiting_.push_back(std::move(text));
  }
  flag_.Raise();
}

std::vector<std::string> LinkNews::Take() {
  flag_.Take();
  std::lock_guard guard(mutex_);
  showing_.insert(showing_.end(), waiting_.begin(), waiting_.end());
  std::vector<std::string> taken;
  taken.swap(waiting_);
  return taken;
}

void LinkNews::Dismissed(const std::string& text) {
  std::lock_guard guard(mutex_);
  auto shown = std::find(showing_.begin(), showing_.end(), text);
  if (shown != showing_.end()) showing_.erase(shown);
}

}  // namespace quorvel
