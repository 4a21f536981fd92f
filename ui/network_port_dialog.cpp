#include "ui/network_port_dialog.h"

#include <arpa/inet.h>

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <charconv>

namespace quorvel {
namespace {

constexpr size_t kMaxHostName = 253;
constexpr size_t kMaxLabel = 63;
constexpr int kHighestPort = 65535;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool IsAddress(int family, std::string_view text) {
  unsigned char bytes[sizeof(in6_addr)];
  return inet_pton(family, std::string(text).c_str(), bytes) == 1;
}

bool IsHostNameLabel(std::string_view label) {
  return !label.empty() && label.size() <= kMaxLabel && label.front() != '-' &&
         label.back() != '-' && std::all_of(label.begin(), label.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-';
         });
}

std::string HostProblem(std::string_view host) {
  if (host.empty()) return "Type the host's name or address.";
  std::string named = "'" + std::string(host) + "' ";
  if (host.front() == '[' || host.find(':') != std::string_view::npos) {
    if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return IsAddress(AF_INET6, host) ? "" : named + "is no IPv6 address.";
  }
  if (host.find_first_not_of("0123456789.") == std::string_view::npos) {
    return IsAddress(AF_INET, host) ? "" : named + "is no IPv4 address.";
  }
  bool labelsFit = host.size() <= kMaxHostName;
  for (size_t start = 0; labelsFit && start <= host.size();) {
    size_t dot = std::min(host.find('.', start), host.size());
    labelsFit = IsHostNameLabel(host.substr(start, dot - start));
    start = dot + 1;
  }
  return labelsFit ? ""
                   : named +
                         "is no host name: letters, digits and hyphens, in labels "
                         "separated by dots.";
}

std::optional<int> PortNumber(std::string_view port) {
  int number = 0;
  auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 1 ||
      number > kHighestPort) {
    return std::nullopt;
  }
  return number;
}

std::string WithoutBrackets(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  return std::string(host);
}

}  // namespace

std::string NetworkPortProblem(std::string_view host, std::string_view port) {
  if (std::string problem = HostProblem(Trimmed(host)); !problem.empty()) return problem;
  if (!PortNumber(Trimmed(port))) return "The port number is a whole number from 1 to 65535.";
  return "";
}

std::string NetworkPortPath(const NetworkAddress& address) {
  bool v6 = address.host.find(':') != std::string::npos;
  return std::string(NetworkKindName(address.kind)) + "://" + (v6 ? "[" : "") + address.host +
         (v6 ? "]" : "") + ":" + address.port;
}

std::optional<NetworkAddress> AskNetworkPort(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Add network port"));
  auto* form = new QFormLayout(&dialog);
  auto* host = new QLineEdit(&dialog);
  host->setObjectName(QStringLiteral("host"));
  host->setPlaceholderText(QStringLiteral("lab-pi, 10.0.0.5 or ::1"));
  form->addRow(QStringLiteral("&Host:"), host);
  auto* port = new QLineEdit(&dialog);
  port->setObjectName(QStringLiteral("port"));
  port->setPlaceholderText(QStringLiteral("1 to 65535"));
  form->addRow(QStringLiteral("&Port number:"), port);
  auto* kind = new QComboBox(&dialog);
  kind->setObjectName(QStringLiteral("protocol"));
  kind->addItem(QStringLiteral("RFC 2217 (the line settings reach the far port)"),
                static_cast<int>(NetworkKind::kRfc2217));
  kind->addItem(QStringLiteral("Raw TCP (the bytes only)"), static_cast<int>(NetworkKind::kTcp));
  form->addRow(QStringLiteral("P&rotocol:"), kind);
  auto* problem = new QLabel(&dialog);
  problem->setObjectName(QStringLiteral("problem"));
  problem->setWordWrap(true);
  problem->hide();
  form->addRow(problem);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    std::string why = NetworkPortProblem(host->text().toStdString(), port->text().toStdString());
    if (why.empty()) return dialog.accept();
    problem->setText(QString::fromStdString(why));
    problem->show();
    bool hostWrong = !HostProblem(Trimmed(host->text().toStdString())).empty();
    (hostWrong ? host : port)->setFocus(Qt::OtherFocusReason);
  });
  host->setFocus(Qt::OtherFocusReason);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  NetworkAddress address;
  address.kind = static_cast<NetworkKind>(kind->currentData().toInt());
  address.host = WithoutBrackets(Trimmed(host->text().toStdString()));
  address.port = std::to_string(PortNumber(Trimmed(port->text().toStdString())).value_or(0));
  return address;
}

}  // namespace quorvel
