#include "ui/port_choice_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <vector>

#include "link/line_settings.h"

namespace quorvel {
namespace {

// The devices a port list offers besides the mapped COM numbers.
const char* const kDevicePatterns[] = {"ttyUSB*", "ttyACM*", "ttyAMA*", "rfcomm*"};

// One port's rows of a form, with the names its boxes answer to in tests.
class PortRows {
 public:
  PortRows(QWidget* parent, QFormLayout* form, const QString& prefix, const PortNames& names,
           const PortChoice& stored) {
    target_ = Box(parent, prefix + QStringLiteral("port"), true);
    for (const auto& [number, path] : names.Entries()) {
      target_->addItem(QStringLiteral("COM%1").arg(number), QString::fromStdString(path));
      target_->setItemData(target_->count() - 1, QString::fromStdString(path), Qt::ToolTipRole);
    }
    QDir dev(QStringLiteral("/dev"));
    for (const char* pattern : kDevicePatterns) {
      for (const QString& name : dev.entryList({QLatin1String(pattern)}, QDir::System)) {
        target_->addItem(dev.filePath(name));
      }
    }
    QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString& name : byId.entryList(QDir::System | QDir::Files)) {
      target_->addItem(byId.filePath(name));
    }
    target_->setEditText(QString::fromStdString(stored.target));
    target_->lineEdit()->setPlaceholderText(
        QStringLiteral("COM3, /dev/ttyUSB1, rfc2217://host:port or tcp://host:port"));
    form->addRow(QStringLiteral("&Port:"), target_);
    baud_ = Box(parent, prefix + QStringLiteral("baud"), true);
    for (const std::string& rate : BaudEntries()) baud_->addItem(QString::fromStdString(rate));
    baud_->setEditText(QString::number(stored.baud));
    form->addRow(QStringLiteral("&Baud rate:"), baud_);
    dataBits_ = Fill(Box(parent, prefix + QStringLiteral("databits"), false), kDataBitsEntries);
    dataBits_->setCurrentIndex(stored.dataBits - 5);
    form->addRow(QStringLiteral("&Data bits:"), dataBits_);
    parity_ = Fill(Box(parent, prefix + QStringLiteral("parity"), false), kParityEntries);
    parity_->setCurrentIndex(stored.parity);
    form->addRow(QStringLiteral("P&arity:"), parity_);
    stopBits_ = Fill(Box(parent, prefix + QStringLiteral("stopbits"), false), kStopBitsEntries);
    stopBits_->setCurrentIndex(stored.stopBits);
    form->addRow(QStringLiteral("&Stop bits:"), stopBits_);
    flow_ = Fill(Box(parent, prefix + QStringLiteral("flow"), false), kFlowEntries);
    flow_->setCurrentIndex(stored.flow);
    form->addRow(QStringLiteral("&Flow control:"), flow_);
  }

  // What the rows say; a rate that is no rate reads as 0.
  PortChoice Choice() const {
    PortChoice choice;
    choice.target = target_->currentText().trimmed().toStdString();
    choice.baud = ParseBaudRate(baud_->currentText().toStdString()).value_or(0);
    choice.dataBits = dataBits_->currentIndex() + 5;
    choice.parity = parity_->currentIndex();
    choice.stopBits = stopBits_->currentIndex();
    choice.flow = flow_->currentIndex();
    return choice;
  }

  QComboBox* Target() const { return target_; }
  QComboBox* Baud() const { return baud_; }

 private:
  static QComboBox* Box(QWidget* parent, const QString& name, bool editable) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(editable);
    if (editable) box->setCompleter(nullptr);  // taken as typed
    return box;
  }
  template <size_t N>
  static QComboBox* Fill(QComboBox* box, const char* const (&entries)[N]) {
    for (const char* entry : entries) box->addItem(QString::fromLatin1(entry));
    return box;
  }

  QComboBox* target_;
  QComboBox* baud_;
  QComboBox* dataBits_;
  QComboBox* parity_;
  QComboBox* stopBits_;
  QComboBox* flow_;
};

QLabel* ProblemLabel(QWidget* parent) {
  auto* problem = new QLabel(parent);
  problem->setObjectName(QStringLiteral("problem"));
  problem->setWordWrap(true);
  problem->setTextFormat(Qt::PlainText);  // a typed path is never markup
  problem->hide();
  return problem;
}

// Runs `dialog` until its choice has no problem (shown in `problem`) or it
// is cancelled.
bool RunUntilUsable(QDialog& dialog, QDialogButtonBox* buttons, QLabel* problem,
                    const std::function<std::string()>& check) {
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    std::string why = check();
    if (why.empty()) return dialog.accept();
    problem->setText(QString::fromStdString(why));
    problem->show();
  });
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace

std::string PortChoiceProblem(const PortChoice& choice, const PortNames& names) {
  if (choice.baud == 0) {
    return "The baud rate is a whole number of bits per second from 1 to " +
           std::to_string(kHighestBaudRate) + ".";
  }
  std::string why;
  if (!ResolvePortChoice(choice.target, names, why)) {
    return choice.target.empty() ? "Choose or type a port." : why + ".";
  }
  return "";
}

std::optional<PortChoice> AskPortChoice(QWidget* parent, const QString& title,
                                        const PortNames& names, const PortChoice& stored) {
  QDialog dialog(parent);
  dialog.setWindowTitle(title);
  auto* form = new QFormLayout(&dialog);
  PortRows rows(&dialog, form, QString(), names, stored);
  QLabel* problem = ProblemLabel(&dialog);
  form->addRow(problem);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  if (!RunUntilUsable(dialog, buttons, problem,
                      [&] { return PortChoiceProblem(rows.Choice(), names); })) {
    return std::nullopt;
  }
  return rows.Choice();
}

std::optional<PortPair> AskPortPair(QWidget* parent, const QString& title, const QString& what,
                                    const PortNames& names, const PortPair& stored) {
  QDialog dialog(parent);
  dialog.setWindowTitle(title);
  auto* column = new QVBoxLayout(&dialog);
  auto* explanation = new QLabel(what, &dialog);
  explanation->setWordWrap(true);
  column->addWidget(explanation);
  auto* sides = new QHBoxLayout;
  column->addLayout(sides);
  auto side = [&](const QString& name, const QString& prefix, const PortChoice& choice) {
    auto* group = new QGroupBox(name, &dialog);
    auto* form = new QFormLayout(group);
    sides->addWidget(group);
    return std::make_unique<PortRows>(group, form, prefix, names, choice);
  };
  std::unique_ptr<PortRows> a = side(QStringLiteral("Port A"), QStringLiteral("a_"), stored.a);
  std::unique_ptr<PortRows> b = side(QStringLiteral("Port B"), QStringLiteral("b_"), stored.b);
  QLabel* problem = ProblemLabel(&dialog);
  column->addWidget(problem);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  column->addWidget(buttons);
  auto check = [&]() -> std::string {
    PortChoice first = a->Choice(), second = b->Choice();
    if (std::string why = PortChoiceProblem(first, names); !why.empty()) return "A: " + why;
    if (std::string why = PortChoiceProblem(second, names); !why.empty()) return "B: " + why;
    std::string unused;
    if (ResolvePortChoice(first.target, names, unused) ==
        ResolvePortChoice(second.target, names, unused)) {
      return "A and B are the same port: choose two.";
    }
    return "";
  };
  if (!RunUntilUsable(dialog, buttons, problem, check)) return std::nullopt;
  return PortPair{a->Choice(), b->Choice()};
}

}  // namespace quorvel
