#include "settings/transfer_settings.h"

#include <algorithm>
#include <array>

#include "settings/profile_file.h"

namespace quorvel {
namespace {

constexpr char kTransferSection[] = "Transfer";
constexpr std::array<const char*, 5> kSendProtocols = {"raw", "xmodem", "xmodem-1k", "ymodem",
                                                       "zmodem"};
constexpr std::array<const char*, 3> kReceiveProtocols = {"xmodem", "ymodem", "zmodem"};

template <size_t N>
std::string Known(const std::optional<std::string>& value, const std::array<const char*, N>& names,
                  const char* fallback) {
  bool known = value && std::any_of(names.begin(), names.end(),
                                    [&](const char* name) { return *value == name; });
  return known ? *value : fallback;
}

}  // namespace

TransferSettings LoadTransferSettings(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  ProfileDocument document(text);
  TransferSettings settings;
  settings.sendProtocol =
      Known(document.Get(kTransferSection, "SendProtocol"), kSendProtocols, "raw");
  settings.receiveProtocol =
      Known(document.Get(kTransferSection, "ReceiveProtocol"), kReceiveProtocols, "ymodem");
  settings.receiveDirectory = document.Get(kTransferSection, "ReceiveDirectory").value_or("");
  settings.replaceExisting =
      ProfileInteger(document.Get(kTransferSection, "ReplaceExisting"), 0) != 0;
  settings.dropPadding = ProfileInteger(document.Get(kTransferSection, "DropPadding"), 1) != 0;
  return settings;
}

bool SaveTransferSettings(const TransferSettings& settings, const std::filesystem::path& file) {
  return EditProfileFile(file, [&](ProfileDocument& document) {
    document.SetAll({{kTransferSection, "SendProtocol", settings.sendProtocol},
                     {kTransferSection, "ReceiveProtocol", settings.receiveProtocol},
                     {kTransferSection, "ReceiveDirectory", settings.receiveDirectory},
                     {kTransferSection, "ReplaceExisting", settings.replaceExisting ? "1" : "0"},
                     {kTransferSection, "DropPadding", settings.dropPadding ? "1" : "0"}});
    return true;
  });
}

}  // namespace quorvel
