#include "ui/send_options_menu.h"

#include <QActionGroup>
#include <QMenu>
#include <QStringList>

#include "engine/transmit.h"
#include "settings/send_options_settings.h"

namespace quorvel {
namespace {

QString Label(std::string_view label) {
  return QString::fromLatin1(label.data(), static_cast<int>(label.size()));
}

// The property each action of the menu keeps its choice in.
constexpr char kEndingProperty[] = "quorvelEnding";
constexpr char kChecksumProperty[] = "quorvelChecksum";
constexpr char kEncodingProperty[] = "quorvelEncoding";

}  // namespace

SendOptionsMenu::SendOptionsMenu(QMenu* menu, TerminalState& state,
                                 std::filesystem::path settingsFile, std::function<void()> changed,
                                 std::function<bool(TextEncoding)> chooseEncoding)
    : QObject(menu),
      state_(state),
      settingsFile_(std::move(settingsFile)),
      changed_(std::move(changed)),
      chooseEncoding_(std::move(chooseEncoding)),
      menu_(menu) {
  auto* endings = new QActionGroup(menu_);
  menu_->addSection(QStringLiteral("Line ending of text sends"));
  for (const LineEndingInfo& info : LineEndingTable()) {
    QAction* action = menu_->addAction(Label(info.label));
    action->setCheckable(true);
    action->setProperty(kEndingProperty, static_cast<int>(info.ending));
    endings->addAction(action);
    connect(action, &QAction::triggered, this, [this, ending = info.ending] {
      SendOptions options = SendOptionsOf(state_);
      options.ending = ending;
      Choose(options);
    });
  }
  menu_->addSeparator();
  QAction* escapes = menu_->addAction(QStringLiteral("&Escapes in text (\\r \\n \\t \\\\ \\xHH)"));
  escapes->setCheckable(true);
  escapes->setObjectName(QStringLiteral("escapes"));
  connect(escapes, &QAction::triggered, this, [this](bool on) {
    SendOptions options = SendOptionsOf(state_);
    options.escapes = on;
    Choose(options);
  });
  QMenu* checks = menu_->addMenu(QStringLiteral("&Check"));
  auto* kinds = new QActionGroup(checks);
  for (const ChecksumInfo& info : ChecksumTable()) {
    QAction* action = checks->addAction(Label(info.label));
    action->setCheckable(true);
    action->setProperty(kChecksumProperty, static_cast<int>(info.kind));
    kinds->addAction(action);
    connect(action, &QAction::triggered, this, [this, kind = info.kind] {
      SendOptions options = SendOptionsOf(state_);
      options.checksum = kind;
      Choose(options);
    });
  }
  menu_->addSection(QStringLiteral("Encoding of typed text"));
  auto* encodings = new QActionGroup(menu_);
  for (const TextEncodingInfo& info : TextEncodingTable()) {
    QAction* action = menu_->addAction(Label(info.label));
    action->setCheckable(true);
    action->setProperty(kEncodingProperty, static_cast<int>(info.encoding));
    encodings->addAction(action);
    connect(action, &QAction::triggered, this,
            [this, encoding = info.encoding] { ChooseEncoding(encoding); });
  }
  connect(menu_, &QMenu::aboutToShow, this, &SendOptionsMenu::ShowChecks);
  ShowChecks();
}

bool SendOptionsMenu::ChooseEncoding(TextEncoding encoding) {
  bool taken = !chooseEncoding_ || chooseEncoding_(encoding);
  ShowChecks();
  if (taken && changed_) changed_();
  return taken;
}

void SendOptionsMenu::Choose(const SendOptions& options) {
  SetSendOptions(state_, options);
  SaveSendOptions(options, settingsFile_);
  ShowChecks();
  if (changed_) changed_();
}

void SendOptionsMenu::ShowChecks() {
  SendOptions options = SendOptionsOf(state_);
  for (QAction* action : menu_->findChildren<QAction*>()) {
    QVariant ending = action->property(kEndingProperty);
    QVariant checksum = action->property(kChecksumProperty);
    if (ending.isValid()) action->setChecked(ending.toInt() == static_cast<int>(options.ending));
    if (checksum.isValid()) {
      action->setChecked(checksum.toInt() == static_cast<int>(options.checksum));
    }
    if (action->objectName() == QLatin1String("escapes")) action->setChecked(options.escapes);
    QVariant encoding = action->property(kEncodingProperty);
    if (encoding.isValid()) {
      action->setChecked(encoding.toInt() == static_cast<int>(SendEncodingOf(state_)));
    }
  }
}

QString SendOptionsMenu::Summary(const SendOptions& options, TextEncoding encoding) {
  QStringList parts;
  if (options.ending != LineEnding::kNone) parts << Label(InfoOf(options.ending).label);
  if (options.checksum != ChecksumKind::kNone) parts << Label(InfoOf(options.checksum).label);
  if (options.escapes) parts << QStringLiteral("escapes");
  if (encoding != TextEncoding::kLatin1) parts << Label(InfoOf(encoding).label);
  return parts.join(QStringLiteral(" \u00b7 "));
}

}  // namespace quorvel
