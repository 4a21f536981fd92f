// The file transfers' choices in the settings file, in a section of their
// own so the terminal's other keys stay as they are:
//   [Transfer]  SendProtocol (raw, xmodem, xmodem-1k, ymodem, zmodem),
//               ReceiveProtocol (xmodem, ymodem, zmodem), ReceiveDirectory,
//               ReplaceExisting (0 or 1), DropPadding (0 or 1)
// A missing or unknown value reads as its default; saving writes only these
// keys and keeps every other line. UI thread.
#pragma once

#include <filesystem>
#include <string>

namespace quorvel {

struct TransferSettings {
  std::string sendProtocol = "raw";
  std::string receiveProtocol = "ymodem";
  std::string receiveDirectory;  // "" for the working directory
  bool replaceExisting = false;  // else a received file takes a free name
  bool dropPadding = true;       // XMODEM's padding off a received file's end
};

TransferSettings LoadTransferSettings(const std::filesystem::path& file);
bool SaveTransferSettings(const TransferSettings& settings, const std::filesystem::path& file);

}  // namespace quorvel
