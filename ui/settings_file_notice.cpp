#include "ui/settings_file_notice.h"

#include <QLabel>

#include "settings/settings_file_choice.h"
#include "ui/message_box.h"
#include "ui/status_line.h"

namespace quorvel {

std::filesystem::path UseSettingsFile(QWidget* window, StatusLine& status,
                                      const std::filesystem::path& named) {
  SettingsFileChoice choice = ChooseSettingsFile(named);
  if (choice.problem.empty()) return choice.file;
  QString problem = QString::fromStdString(choice.problem);
  status.SetText(StatusLine::Field::kSettings,
                 QStringLiteral("settings: %1 (%2 not read)")
                     .arg(QString::fromStdString(choice.file.filename().string()),
                          QString::fromStdString(named.filename().string())));
  status.Label(StatusLine::Field::kSettings)->setToolTip(problem);
  ShowWarning(window, problem);
  return choice.file;
}

}  // namespace quorvel
