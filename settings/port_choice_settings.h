// The ports chosen in dialogs of their own, each kept in a section of its
// own so the window's first port keeps its keys as they are:
//   [Port2]  the window's second port: Target (a COM name, a device path or
//            a network address, as typed), Baud (1 to 4294967295), DataBits
//            (5 to 8), Parity (none, odd, even, mark, space), StopBits (1,
//            1.5, 2), Flow (none, software, hardware), View (text or
//            session), Hex (0 or 1: the view in hex), Shown (0 or 1: open
//            it at start)
//   [Pair]   the last monitored or bridged link: Mode (monitor or bridge),
//            then the keys above prefixed with A and B (ATarget, ABaud, ...,
//            BFlow) for its two sides
// A missing or bad value reads as its default (115200,8,N,1, no flow, the
// session view, hidden); saving writes only these keys and keeps every other
// line. UI thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "link/line_parameters.h"
#include "link/port_names.h"
#include "link/port_target.h"

namespace quorvel {

inline constexpr char kSecondPortSection[] = "Port2";
inline constexpr char kPairSection[] = "Pair";

struct PortChoice {
  std::string target;  // as typed or chosen; "" when none was
  uint32_t baud = 115200;
  int dataBits = 8;
  int parity = kParityNone;
  int stopBits = kOneStopBit;
  int flow = kFlowNone;

  LineParameters Line() const { return {baud, dataBits, stopBits, parity, flow}; }
  bool operator==(const PortChoice&) const = default;
};

struct SecondPortSettings {
  PortChoice port;
  bool sessionView = true;  // false: a plain receive box
  bool hex = false;
  bool shown = false;
  bool operator==(const SecondPortSettings&) const = default;
};

struct PairSettings {
  bool bridge = false;
  PortChoice a;
  PortChoice b;
  bool operator==(const PairSettings&) const = default;
};

SecondPortSettings LoadSecondPortSettings(const std::filesystem::path& file);
bool SaveSecondPortSettings(const SecondPortSettings& settings, const std::filesystem::path& file);
PairSettings LoadPairSettings(const std::filesystem::path& file);
bool SavePairSettings(const PairSettings& settings, const std::filesystem::path& file);

// Where a chosen port's text leads: "COM<n>" through `names`, a network
// address as it is, anything else as a device path (relative to the
// working directory). nullopt, with `why` set, when it leads nowhere.
std::optional<PortTarget> ResolvePortChoice(const std::string& text, const PortNames& names,
                                            std::string& why);

// "none", "odd", ... and back; the names the section keeps.
const char* ParityKey(int parity);
const char* StopBitsKey(int stopBits);
const char* FlowKey(int flow);

}  // namespace quorvel
