#include "ui/plot_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "plot/plot_pattern.h"
#include "plot/plot_store.h"

namespace quorvel {
namespace {

QDoubleSpinBox* Limit(QWidget* parent, double value) {
  auto* box = new QDoubleSpinBox(parent);
  box->setRange(-1e12, 1e12);
  box->setDecimals(6);
  box->setValue(value);
  return box;
}

}  // namespace

std::optional<PlotSettings> AskPlotSettings(QWidget* parent, const PlotSettings& current) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Plot settings"));
  auto* form = new QFormLayout(&dialog);
  auto* axis = new QComboBox(&dialog);
  axis->setObjectName(QStringLiteral("xAxis"));
  axis->addItems({QStringLiteral("time of arrival (s)"), QStringLiteral("sample number")});
  axis->setCurrentIndex(current.sampleAxis ? 1 : 0);
  form->addRow(QStringLiteral("&X axis:"), axis);
  auto* window = new QDoubleSpinBox(&dialog);
  window->setRange(0, 1e9);
  window->setDecimals(3);
  window->setValue(current.window);
  window->setSpecialValueText(QStringLiteral("all kept data"));
  form->addRow(QStringLiteral("&Window (s or samples):"), window);
  auto* autoY = new QCheckBox(QStringLiteral("&Fit Y to what shows"), &dialog);
  autoY->setChecked(current.autoY);
  form->addRow(autoY);
  QDoubleSpinBox* yMin = Limit(&dialog, current.yMin);
  QDoubleSpinBox* yMax = Limit(&dialog, current.yMax);
  form->addRow(QStringLiteral("Y mi&n:"), yMin);
  form->addRow(QStringLiteral("Y ma&x:"), yMax);
  auto followAuto = [=](bool on) {
    yMin->setEnabled(!on);
    yMax->setEnabled(!on);
  };
  QObject::connect(autoY, &QCheckBox::toggled, &dialog, followAuto);
  followAuto(current.autoY);
  auto* regex = new QLineEdit(QString::fromStdString(current.regex), &dialog);
  regex->setPlaceholderText(QStringLiteral("none: name:value pairs or lists of numbers"));
  form->addRow(QStringLiteral("&Regular expression:"), regex);
  auto* problem = new QLabel(&dialog);
  problem->setWordWrap(true);
  form->addRow(problem);
  auto* points = new QSpinBox(&dialog);
  points->setRange(static_cast<int>(kPlotMinMaxPoints), static_cast<int>(kPlotMaxMaxPoints));
  points->setGroupSeparatorShown(true);
  points->setValue(static_cast<int>(current.maxPoints));
  form->addRow(QStringLiteral("&Points kept per series:"), points);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    std::string error;
    std::string text = regex->text().toStdString();
    if (!text.empty() && !PlotPattern::Compile(text, error)) {
      problem->setText(QString::fromStdString(error));
      return;
    }
    if (!autoY->isChecked() && yMin->value() >= yMax->value()) {
      problem->setText(QStringLiteral("Y max must be above Y min"));
      return;
    }
    dialog.accept();
  });
  axis->setFocus(Qt::OtherFocusReason);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  PlotSettings chosen = current;
  chosen.sampleAxis = axis->currentIndex() == 1;
  chosen.window = window->value();
  chosen.autoY = autoY->isChecked();
  chosen.yMin = yMin->value();
  chosen.yMax = yMax->value();
  chosen.regex = regex->text().toStdString();
  chosen.maxPoints = static_cast<uint64_t>(points->value());
  return chosen;
}

}  // namespace quorvel
