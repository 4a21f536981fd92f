#include "ui/demo_session.h"

#include <cstdio>

#include "ui/byte_text_box.h"

namespace quorvel {

DemoSession::DemoSession() {
  std::string error;
  if (!device_.Start(error)) std::fprintf(stderr, "quorvel: --demo: %s\n", error.c_str());
}

void DemoSession::Place(PortNames& names, LineSelection& selection) {
  if (device_.Path().empty()) return;
  PortNumberGrant grant = GrantPortNumber(names, PortTarget::Device(device_.Path()));
  number_ = grant.number;
  if (number_ == 0) {
    std::fprintf(stderr, "quorvel: --demo: %s\n", grant.refusal.c_str());
    return;
  }
  userPortPos_ = selection.portPos;
  selection.portPos = number_ - 1;
}

void DemoSession::Unplace(Settings& settings) const {
  if (number_ == 0) return;
  auto entry = settings.portMap.find(number_);
  if (entry != settings.portMap.end() && entry->second == device_.Path()) {
    settings.portMap.erase(entry);
  }
  if (settings.selection.portPos == number_ - 1) settings.selection.portPos = userPortPos_;
}

QString DemoSession::TitleNote() const {
  return number_ == 0 ? QString() : QStringLiteral(" \u2014 demo device on COM%1").arg(number_);
}

QString DemoSession::DeviceName(const std::string& path) const {
  QString shown = TextFromBytes(path);
  return number_ != 0 && path == device_.Path() ? QStringLiteral("demo device %1").arg(shown)
                                                : shown;
}

}  // namespace quorvel
