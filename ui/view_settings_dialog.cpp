#include "ui/view_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>

namespace quorvel {
namespace {

constexpr struct {
  StampKind kind;
  const char* label;
} kStampLabels[] = {
    {StampKind::kNone, "None"},
    {StampKind::kTimeOfDay, "Time of day (hh:mm:ss.mmm)"},
    {StampKind::kSinceOpen, "Since the link opened (s.mmm)"},
    {StampKind::kSincePrevious, "Since the previous line (+ms)"},
};

QComboBox* AddChoice(QDialog* dialog, QFormLayout* form, const char* name, const QString& label) {
  auto* box = new QComboBox(dialog);
  box->setObjectName(QString::fromLatin1(name));
  form->addRow(label, box);
  return box;
}

QCheckBox* AddFlag(QDialog* dialog, QFormLayout* form, const char* name, const QString& text,
                   bool checked) {
  auto* box = new QCheckBox(text, dialog);
  box->setObjectName(QString::fromLatin1(name));
  box->setChecked(checked);
  form->addRow(box);
  return box;
}

QSpinBox* AddNumber(QDialog* dialog, QFormLayout* form, const char* name, const QString& label,
                    int low, int high, int value, const QString& suffix) {
  auto* box = new QSpinBox(dialog);
  box->setObjectName(QString::fromLatin1(name));
  box->setRange(low, high);
  box->setSuffix(suffix);
  box->setValue(value);
  form->addRow(label, box);
  return box;
}

}  // namespace

std::optional<ViewSettings> AskViewSettings(QWidget* parent, const ViewSettings& current) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("View settings"));
  auto* form = new QFormLayout(&dialog);
  QComboBox* stamps = AddChoice(&dialog, form, "stamps", QStringLiteral("&Stamps:"));
  for (const auto& entry : kStampLabels) {
    stamps->addItem(QString::fromLatin1(entry.label), static_cast<int>(entry.kind));
  }
  stamps->setCurrentIndex(stamps->findData(static_cast<int>(current.stamps)));
  QCheckBox* showTx =
      AddFlag(&dialog, form, "showTx", QStringLiteral("Show what was sent (&TX)"), current.showTx);
  QSpinBox* silence =
      AddNumber(&dialog, form, "silence", QStringLiteral("New line after s&ilence:"), 0,
                kMaxSilenceMs, current.silenceMs, QStringLiteral(" ms"));
  silence->setSpecialValueText(QStringLiteral("Off"));
  QComboBox* encoding = AddChoice(&dialog, form, "encoding", QStringLiteral("&Encoding:"));
  encoding->addItem(QStringLiteral("Latin-1"), static_cast<int>(DisplayEncoding::kLatin1));
  encoding->addItem(QStringLiteral("UTF-8"), static_cast<int>(DisplayEncoding::kUtf8));
  encoding->setCurrentIndex(encoding->findData(static_cast<int>(current.encoding)));
  QCheckBox* symbols = AddFlag(&dialog, form, "controlSymbols",
                               QStringLiteral("Control bytes as s&ymbols"), current.controlSymbols);
  QCheckBox* ansi =
      AddFlag(&dialog, form, "hideAnsi", QStringLiteral("Hide &ANSI escapes"), current.hideAnsi);
  QComboBox* check = AddChoice(&dialog, form, "check", QStringLiteral("&Receive check:"));
  for (const ChecksumInfo& info : ChecksumTable()) {
    check->addItem(QString::fromUtf8(info.label.data(), static_cast<qsizetype>(info.label.size())),
                   static_cast<int>(info.kind));
  }
  check->setCurrentIndex(check->findData(static_cast<int>(current.check)));
  QSpinBox* history =
      AddNumber(&dialog, form, "history", QStringLiteral("&History kept:"), kMinHistoryMiB,
                kMaxHistoryMiB, current.historyMiB, QStringLiteral(" MiB"));
  QCheckBox* zmodem = AddFlag(&dialog, form, "zmodemAutoStart",
                              QStringLiteral("Receive &ZMODEM files the device starts sending"),
                              current.zmodemAutoStart);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  stamps->setFocus(Qt::OtherFocusReason);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;

  ViewSettings chosen = current;
  chosen.stamps = static_cast<StampKind>(stamps->currentData().toInt());
  chosen.showTx = showTx->isChecked();
  chosen.silenceMs = silence->value();
  chosen.encoding = static_cast<DisplayEncoding>(encoding->currentData().toInt());
  chosen.controlSymbols = symbols->isChecked();
  chosen.hideAnsi = ansi->isChecked();
  chosen.check = static_cast<ChecksumKind>(check->currentData().toInt());
  chosen.historyMiB = history->value();
  chosen.zmodemAutoStart = zmodem->isChecked();
  return chosen;
}

}  // namespace quorvel
