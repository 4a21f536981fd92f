#include "settings/send_options_settings.h"

#include <string>

#include "settings/profile_file.h"

namespace quorvel {
namespace {

constexpr char kSendOptionsSection[] = "SendOptions";

}  // namespace

SendOptions LoadSendOptions(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  ProfileDocument document(text);
  SendOptions options;
  std::string ending = document.Get(kSendOptionsSection, "LineEnding").value_or("");
  options.ending = LineEndingFromKey(ending).value_or(LineEnding::kNone);
  options.escapes = ProfileInteger(document.Get(kSendOptionsSection, "Escapes"), 0) != 0;
  std::string checksum = document.Get(kSendOptionsSection, "Checksum").value_or("");
  options.checksum = ChecksumFromKey(checksum).value_or(ChecksumKind::kNone);
  return options;
}

bool SaveSendOptions(const SendOptions& options, const std::filesystem::path& file) {
  std::vector<ProfileValue> values = {
      {kSendOptionsSection, "LineEnding", std::string(InfoOf(options.ending).key)},
      {kSendOptionsSection, "Escapes", options.escapes ? "1" : "0"},
      {kSendOptionsSection, "Checksum", std::string(InfoOf(options.checksum).key)},
  };
  return EditProfileFile(file, [&](ProfileDocument& document) { return document.SetAll(values); });
}

TextEncoding LoadSendEncoding(const std::filesystem::path& file) {
  std::string key = ReadProfileString(file, kSendOptionsSection, "Encoding").value_or("");
  return TextEncodingFromKey(key).value_or(TextEncoding::kLatin1);
}

bool SaveSendEncoding(TextEncoding encoding, const std::filesystem::path& file) {
  return WriteProfileString(file, kSendOptionsSection, "Encoding", InfoOf(encoding).key);
}

}  // namespace quorvel
