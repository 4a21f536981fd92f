// The window's commands: the menu bar, the commands the window carries out
// itself, the context menu, and adding a network port. The command table
// and how a command is added: ui/command_table.h.
#include <QAbstractButton>
#include <QComboBox>
#include <QMenuBar>
#include <QShortcut>

#include "link/port_target.h"
#include "settings/profile_file.h"
#include "settings/settings.h"
#include "ui/answer_rules_dialog.h"
#include "ui/line_tools.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/modem_menu.h"
#include "ui/network_port_dialog.h"
#include "ui/port_list.h"
#include "ui/send_tools.h"
#include "ui/shortcuts_dialog.h"
#include "ui/transfer_tools.h"
#include "ui/window_commands.h"
#include "ui/window_context_menu.h"
#include "ui/window_layout.h"

namespace quorvel {

void MainWindow::AddMenuBar() {
  auto* bar = new QMenuBar(this);
  // In the window on every desktop: the window's minimum counts on its height.
  bar->setNativeMenuBar(false);
  commands_->FillMenuBar(bar);
  layout_->SetMenuBar(bar);
}

void MainWindow::BindCommands() {
  // The template's button and check box entries click them, so a command and
  // a click do the same.
  auto click = [this](ControlId id) {
    return [button = static_cast<QAbstractButton*>(Control(id))] { button->click(); };
  };
  commands_->Bind(Command::kOpenClose, this, click(kOpenCloseButton));
  commands_->Bind(Command::kClearReceive, this, click(kClearReceiveButton));
  auto* hex = static_cast<QAbstractButton*>(Control(kHexDisplayCheck));
  QAction* hexEntry = commands_->Action(Command::kHexDisplay);
  commands_->Bind(Command::kHexDisplay, this, [hex, hexEntry] {
    hex->click();
    hexEntry->setChecked(hex->isChecked());
  });
  // The entry shows the check box's state, however it changes.
  connect(hex, &QAbstractButton::toggled, hexEntry, &QAction::setChecked);
  commands_->Bind(Command::kAddNetworkPort, this, &MainWindow::AddNetworkPort);
  commands_->Bind(Command::kZoomIn, this, &MainWindow::ZoomIn);
  commands_->Bind(Command::kZoomOut, this, &MainWindow::ZoomOut);
  commands_->Bind(Command::kResetZoom, this, &MainWindow::ResetZoom);
  // Ctrl+Plus without Shift, on keyboards where + is Shift+=.
  auto* zoomIn = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal), this);
  connect(zoomIn, &QShortcut::activated, this, &MainWindow::ZoomIn);
  commands_->Bind(Command::kQuit, this, [this] { close(); });
  commands_->Bind(Command::kKeyboardShortcuts, this, [this] { ShowKeyboardShortcuts(this); });
  commands_->Bind(Command::kAbout, this, &MainWindow::ShowAbout);

  modemMenu_ = new ModemMenu(this, *commands_, link_, statusLine_);
  tools_->BindCommands(*commands_);
  transfers_->BindCommands(*commands_);
  answerRules_->BindCommands(*commands_);
  sendTools_->BindCommands(*commands_);
  contextMenu_ = new WindowContextMenu(this, *commands_);
}

QMenu* MainWindow::WindowMenu() const {
  return contextMenu_->Menu();
}

void MainWindow::ShowContextMenu(QWidget* target, QPoint globalPos) {
  contextMenu_->Show(target, globalPos);
}

void MainWindow::AddNetworkPort() {
  std::optional<NetworkAddress> address = AskNetworkPort(this);
  if (!address) return;
  std::string path = NetworkPortPath(*address);
  // The same rule as a newly plugged adapter: the number [PortMap] gives the
  // address already, or the lowest free one.
  std::optional<PortTarget> target = PortTarget::Parse(path);
  PortNumberGrant grant = target ? GrantPortNumber(names_, *target)
                                 : PortNumberGrant{0, path + " is no network address."};
  if (grant.number == 0) {
    ShowWarning(this,
                QStringLiteral("%1 was not added: %2.")
                    .arg(QString::fromStdString(path), QString::fromStdString(grant.refusal)));
    return;
  }
  int number = grant.number;
  // Kept at once, as a send list or a view setting is: it is the user's
  // configuration, not a state of the run.
  EnsureSettingsDirectory();
  WriteProfileString(options_.settingsFile, kPortMapSection, PortMapKey(number), path);
  portList_->Refresh();
  Selector(kPortSelector)->setCurrentIndex(number - 1);
  // An open link moves to it; a closed one opens on it.
  if (link_.Wanted()) transfers_->StopForLinkChange();
  ShowLinkStatus(OpenSelected());
  TakeLinkNews();
}

}  // namespace quorvel
