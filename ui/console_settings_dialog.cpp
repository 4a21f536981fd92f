#include "ui/console_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>

#include "settings/console_settings.h"

namespace quorvel {
namespace {

// A selector over one of the console's choice tables, showing `current`.
template <typename Table, typename Value>
QComboBox* ChoiceBox(QWidget* parent, const Table& table, Value current) {
  auto* box = new QComboBox(parent);
  for (const auto& choice : table) {
    box->addItem(
        QString::fromUtf8(choice.label.data(), static_cast<qsizetype>(choice.label.size())),
        static_cast<int>(choice.value));
    if (static_cast<int>(choice.value) == static_cast<int>(current)) {
      box->setCurrentIndex(box->count() - 1);
    }
  }
  return box;
}

template <typename Value>
Value Chosen(const QComboBox* box) {
  return static_cast<Value>(box->currentData().toInt());
}

struct MapBoxes {
  QComboBox* cr;
  QComboBox* lf;
  QComboBox* erase;
};

MapBoxes AddMaps(QFormLayout* form, QWidget* parent, const QString& title, const LineMap& map) {
  auto* group = new QGroupBox(title, parent);
  auto* rows = new QFormLayout(group);
  MapBoxes boxes{ChoiceBox(group, CrMapTable(), map.cr), ChoiceBox(group, LfMapTable(), map.lf),
                 ChoiceBox(group, EraseMapTable(), map.erase)};
  rows->addRow(QStringLiteral("CR:"), boxes.cr);
  rows->addRow(QStringLiteral("LF:"), boxes.lf);
  rows->addRow(QStringLiteral("BS, DEL:"), boxes.erase);
  form->addRow(group);
  return boxes;
}

LineMap MapOf(const MapBoxes& boxes) {
  return {Chosen<CrMap>(boxes.cr), Chosen<LfMap>(boxes.lf), Chosen<EraseMap>(boxes.erase)};
}

}  // namespace

std::optional<ConsoleOptions> AskConsoleSettings(QWidget* parent, const ConsoleOptions& current) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Console settings"));
  auto* form = new QFormLayout(&dialog);
  QComboBox* enter = ChoiceBox(&dialog, EnterTable(), current.keys.enter);
  form->addRow(QStringLiteral("&Enter sends:"), enter);
  QComboBox* backspace = ChoiceBox(&dialog, BackspaceTable(), current.keys.backspace);
  form->addRow(QStringLiteral("&Backspace sends:"), backspace);
  auto* encoding = new QComboBox(&dialog);
  for (const TextEncodingInfo& info : TextEncodingTable()) {
    encoding->addItem(
        QString::fromUtf8(info.label.data(), static_cast<qsizetype>(info.label.size())),
        static_cast<int>(info.encoding));
    if (info.encoding == current.keys.encoding) encoding->setCurrentIndex(encoding->count() - 1);
  }
  form->addRow(QStringLiteral("E&ncoding:"), encoding);
  auto* echo = new QCheckBox(QStringLiteral("&Local echo (show what is typed)"), &dialog);
  echo->setChecked(current.localEcho);
  form->addRow(echo);
  MapBoxes input =
      AddMaps(form, &dialog, QStringLiteral("What is typed and pasted (input)"), current.input);
  MapBoxes output =
      AddMaps(form, &dialog, QStringLiteral("What the device sends (output)"), current.output);
  auto* rows = new QSpinBox(&dialog);
  rows->setRange(static_cast<int>(kMinConsoleScrollback), static_cast<int>(kMaxConsoleScrollback));
  rows->setGroupSeparatorShown(true);
  rows->setValue(static_cast<int>(current.scrollbackRows));
  form->addRow(QStringLiteral("&Scrollback rows:"), rows);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  enter->setFocus(Qt::OtherFocusReason);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  ConsoleOptions chosen = current;
  chosen.keys.enter = Chosen<EnterSends>(enter);
  chosen.keys.backspace = Chosen<BackspaceSends>(backspace);
  chosen.keys.encoding = Chosen<TextEncoding>(encoding);
  chosen.localEcho = echo->isChecked();
  chosen.input = MapOf(input);
  chosen.output = MapOf(output);
  chosen.scrollbackRows = static_cast<size_t>(rows->value());
  return chosen;
}

}  // namespace quorvel
