#include "settings/port_listing.h"

#include "link/line_settings.h"
#include "link/port_names.h"
#include "link/port_target.h"
#include "settings/settings.h"
#include "settings/settings_file_choice.h"

namespace quorvel {

std::string PortListingText(std::map<int, std::string> portMap, const DeviceRoots& roots) {
  AssignDetectedPorts(portMap, roots.ttyClass, roots.dev);
  PortNames names;
  for (const auto& [number, path] : portMap) names.Set(number, path);
  std::string text;
  for (int number = 1; number <= kPortCount; ++number) {
    std::string path = names.DevicePath(number);
    // An entry that names no port is listed as written, as a device that is not there.
    std::optional<PortTarget> target = names.Target(number);
    DeviceDescription description =
        DescribeDevice(target.value_or(PortTarget::Device(path)), roots);
    if (!description.present && portMap.count(number) == 0) continue;
    text += PortMapKey(number) + '\t' + path + '\t' +
            (description.present ? DescriptionLine(description) : "absent") + '\n';
  }
  return text;
}

std::string PortListingOfFile(const std::filesystem::path& file, std::string& note) {
  SettingsFileChoice choice = ChooseSettingsFile(file);
  note = choice.problem;
  return PortListingText(LoadSettingsFile(choice.file).portMap);
}

}  // namespace quorvel
