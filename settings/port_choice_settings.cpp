#include "settings/port_choice_settings.h"

#include <filesystem>
#include <vector>

#include "link/line_settings.h"
#include "settings/profile_file.h"
#include "settings/settings.h"

namespace quorvel {
namespace {

constexpr const char* kParityKeys[] = {"none", "odd", "even", "mark", "space"};
constexpr const char* kStopBitsKeys[] = {"1", "1.5", "2"};
constexpr const char* kFlowKeys[] = {"none", "software", "hardware"};

template <size_t N>
int CodeOf(const std::optional<std::string>& text, const char* const (&keys)[N], int fallback) {
  for (size_t i = 0; i < N; ++i) {
    if (text && *text == keys[i]) return static_cast<int>(i);
  }
  return fallback;
}

template <size_t N>
const char* KeyOf(int code, const char* const (&keys)[N]) {
  return code >= 0 && code < static_cast<int>(N) ? keys[code] : keys[0];
}

PortChoice ReadPort(const ProfileDocument& document, const char* section, const std::string& p) {
  PortChoice port;
  if (std::optional<std::string> target = document.Get(section, p + "Target")) {
    port.target = *target;
  }
  if (std::optional<std::string> baud = document.Get(section, p + "Baud")) {
    port.baud = ParseBaudRate(*baud).value_or(port.baud);
  }
  int bits = ProfileInteger(document.Get(section, p + "DataBits"), port.dataBits);
  port.dataBits = bits >= 5 && bits <= 8 ? bits : port.dataBits;
  port.parity = CodeOf(document.Get(section, p + "Parity"), kParityKeys, port.parity);
  port.stopBits = CodeOf(document.Get(section, p + "StopBits"), kStopBitsKeys, port.stopBits);
  port.flow = CodeOf(document.Get(section, p + "Flow"), kFlowKeys, port.flow);
  return port;
}

void WritePort(const PortChoice& port, const char* section, const std::string& p,
               std::vector<ProfileValue>& values) {
  values.push_back({section, p + "Target", port.target});
  values.push_back({section, p + "Baud", std::to_string(port.baud)});
  values.push_back({section, p + "DataBits", std::to_string(port.dataBits)});
  values.push_back({section, p + "Parity", ParityKey(port.parity)});
  values.push_back({section, p + "StopBits", StopBitsKey(port.stopBits)});
  values.push_back({section, p + "Flow", FlowKey(port.flow)});
}

bool Flag(const ProfileDocument& document, const char* section, const char* key, bool fallback) {
  return ProfileInteger(document.Get(section, key), fallback ? 1 : 0) != 0;
}

ProfileDocument ReadDocument(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  return ProfileDocument(text);
}

}  // namespace

const char* ParityKey(int parity) {
  return KeyOf(parity, kParityKeys);
}

const char* StopBitsKey(int stopBits) {
  return KeyOf(stopBits, kStopBitsKeys);
}

const char* FlowKey(int flow) {
  return KeyOf(flow, kFlowKeys);
}

SecondPortSettings LoadSecondPortSettings(const std::filesystem::path& file) {
  ProfileDocument document = ReadDocument(file);
  SecondPortSettings settings;
  settings.port = ReadPort(document, kSecondPortSection, "");
  std::optional<std::string> view = document.Get(kSecondPortSection, "View");
  settings.sessionView = !(view && *view == "text");
  settings.hex = Flag(document, kSecondPortSection, "Hex", settings.hex);
  settings.shown = Flag(document, kSecondPortSection, "Shown", settings.shown);
  return settings;
}

bool SaveSecondPortSettings(const SecondPortSettings& settings, const std::filesystem::path& file) {
  std::vector<ProfileValue> values;
  WritePort(settings.port, kSecondPortSection, "", values);
  values.push_back({kSecondPortSection, "View", settings.sessionView ? "session" : "text"});
  values.push_back({kSecondPortSection, "Hex", settings.hex ? "1" : "0"});
  values.push_back({kSecondPortSection, "Shown", settings.shown ? "1" : "0"});
  return EditProfileFile(file, [&](ProfileDocument& document) { return document.SetAll(values); });
}

PairSettings LoadPairSettings(const std::filesystem::path& file) {
  ProfileDocument document = ReadDocument(file);
  PairSettings settings;
  std::optional<std::string> mode = document.Get(kPairSection, "Mode");
  settings.bridge = mode && *mode == "bridge";
  settings.a = ReadPort(document, kPairSection, "A");
  settings.b = ReadPort(document, kPairSection, "B");
  return settings;
}

bool SavePairSettings(const PairSettings& settings, const std::filesystem::path& file) {
  std::vector<ProfileValue> values;
  values.push_back({kPairSection, "Mode", settings.bridge ? "bridge" : "monitor"});
  WritePort(settings.a, kPairSection, "A", values);
  WritePort(settings.b, kPairSection, "B", values);
  return EditProfileFile(file, [&](ProfileDocument& document) { return document.SetAll(values); });
}

std::optional<PortTarget> ResolvePortChoice(const std::string& text, const PortNames& names,
                                            std::string& why) {
  if (text.empty()) {
    why = "no port was given";
    return std::nullopt;
  }
  if (int number = PortMapNumber(text); number != 0) {
    std::optional<PortTarget> target = names.Target(number);
    if (!target) why = names.WhyNoTarget(number).Reason();
    return target;
  }
  bool comName = text.size() > 3 && (text[0] | 0x20) == 'c' && (text[1] | 0x20) == 'o' &&
                 (text[2] | 0x20) == 'm' &&
                 text.find_first_not_of("0123456789", 3) == std::string::npos;
  if (comName) {
    why = text + " is not one of COM1 to COM" + std::to_string(kPortCount);
    return std::nullopt;
  }
  std::optional<PortTarget> target = PortTarget::Parse(text);
  if (!target) {
    why = text + " names no port";
    return std::nullopt;
  }
  if (target->IsNetwork()) return target;
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(text, error);
  return PortTarget::Device(error ? text : absolute.string());
}

}  // namespace quorvel
