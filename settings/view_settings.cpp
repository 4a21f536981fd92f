#include "settings/view_settings.h"

#include <algorithm>
#include <string>
#include <vector>

#include "settings/profile_file.h"

namespace quorvel {
namespace {

constexpr char kViewSection[] = "View";

constexpr struct {
  StampKind kind;
  const char* name;
} kStampNames[] = {
    {StampKind::kNone, "none"},
    {StampKind::kTimeOfDay, "time"},
    {StampKind::kSinceOpen, "open"},
    {StampKind::kSincePrevious, "delta"},
};

constexpr struct {
  DisplayEncoding encoding;
  const char* name;
} kEncodingNames[] = {
    {DisplayEncoding::kLatin1, "latin1"},
    {DisplayEncoding::kUtf8, "utf8"},
};

StampKind StampNamed(const std::optional<std::string>& name, StampKind fallback) {
  for (const auto& entry : kStampNames) {
    if (name && *name == entry.name) return entry.kind;
  }
  return fallback;
}

const char* StampName(StampKind kind) {
  for (const auto& entry : kStampNames) {
    if (entry.kind == kind) return entry.name;
  }
  return "none";
}

DisplayEncoding EncodingNamed(const std::optional<std::string>& name, DisplayEncoding fallback) {
  for (const auto& entry : kEncodingNames) {
    if (name && *name == entry.name) return entry.encoding;
  }
  return fallback;
}

const char* EncodingName(DisplayEncoding encoding) {
  for (const auto& entry : kEncodingNames) {
    if (entry.encoding == encoding) return entry.name;
  }
  return "latin1";
}

bool Flag(const ProfileDocument& document, const char* key, bool fallback) {
  return ProfileInteger(document.Get(kViewSection, key), fallback ? 1 : 0) != 0;
}

}  // namespace

ViewSettings LoadViewSettings(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  ProfileDocument document(text);
  ViewSettings settings;
  settings.sessionView = Flag(document, "SessionView", settings.sessionView);
  settings.stamps = StampNamed(document.Get(kViewSection, "Stamps"), settings.stamps);
  settings.showTx = Flag(document, "ShowTx", settings.showTx);
  settings.silenceMs =
      std::clamp(ProfileInteger(document.Get(kViewSection, "SilenceMs"), 0), 0, kMaxSilenceMs);
  settings.encoding = EncodingNamed(document.Get(kViewSection, "Encoding"), settings.encoding);
  settings.controlSymbols = Flag(document, "ControlSymbols", settings.controlSymbols);
  settings.hideAnsi = Flag(document, "HideAnsi", settings.hideAnsi);
  if (std::optional<std::string> check = document.Get(kViewSection, "Check")) {
    settings.check = ChecksumFromKey(*check).value_or(ChecksumKind::kNone);
  }
  settings.historyMiB = std::clamp(ProfileInteger(document.Get(kViewSection, "HistoryMiB"), 64),
                                   kMinHistoryMiB, kMaxHistoryMiB);
  settings.zmodemAutoStart = Flag(document, "ZmodemAutoStart", settings.zmodemAutoStart);
  return settings;
}

bool SaveViewSettings(const ViewSettings& settings, const std::filesystem::path& file) {
  auto flag = [](bool on) { return on ? "1" : "0"; };
  std::vector<ProfileValue> values = {
      {kViewSection, "SessionView", flag(settings.sessionView)},
      {kViewSection, "Stamps", StampName(settings.stamps)},
      {kViewSection, "ShowTx", flag(settings.showTx)},
      {kViewSection, "SilenceMs", std::to_string(settings.silenceMs)},
      {kViewSection, "Encoding", EncodingName(settings.encoding)},
      {kViewSection, "ControlSymbols", flag(settings.controlSymbols)},
      {kViewSection, "HideAnsi", flag(settings.hideAnsi)},
      {kViewSection, "Check", std::string(InfoOf(settings.check).key)},
      {kViewSection, "HistoryMiB", std::to_string(settings.historyMiB)},
      {kViewSection, "ZmodemAutoStart", flag(settings.zmodemAutoStart)},
  };
  return EditProfileFile(file, [&](ProfileDocument& document) { return document.SetAll(values); });
}

}  // namespace quorvel
