#include "ui/script_viewer.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "script/script_report.h"
#include "script/script_runner.h"
#include "scripting/session_script_link.h"
#include "settings/script_pane_settings.h"
#include "ui/command_table.h"
#include "ui/script_editor.h"
#include "ui/script_pane.h"
#include "ui/status_line.h"
#include "ui/window_commands.h"
#include "ui/window_layout.h"

namespace quorvel {
namespace {

QString LineWithoutEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return QString::fromUtf8(text);
}

// How a run ended, for the status line.
QString EndText(const ScriptResult& result) {
  int failed = FailedSteps(result);
  int steps = StepCount(result);
  switch (result.end) {
    case ScriptEnd::kError:
      return QStringLiteral("script: error");
    case ScriptEnd::kStopped:
      return QStringLiteral("script: stopped");
    case ScriptEnd::kTimedOut:
      return QStringLiteral("script: timed out");
    default:
      break;
  }
  if (failed > 0) return QStringLiteral("script: %1 of %2 failed").arg(failed).arg(steps);
  return QStringLiteral("script: %1 passed").arg(steps);
}

// "board.lua:12: ..." gives the editor's line 12 when it names the script.
int ErrorLine(const std::string& error, const QString& name) {
  QString text = QString::fromUtf8(error);
  QString prefix = name + QLatin1Char(':');
  if (!text.startsWith(prefix)) return 0;
  int end = text.indexOf(QLatin1Char(':'), prefix.size());
  return end < 0 ? 0 : text.mid(prefix.size(), end - prefix.size()).toInt();
}

}  // namespace

ScriptViewer::ScriptViewer(QWidget& window, WindowLayout& layout, LinkSession& link,
                           StatusLine& status, std::filesystem::path settingsFile,
                           std::function<bool(const LineParameters&)> apply)
    : QObject(&window),
      window_(window),
      layout_(layout),
      link_(link),
      status_(status),
      settingsFile_(std::move(settingsFile)),
      apply_(std::move(apply)) {
  if (LoadScriptPaneSettings(settingsFile_).shown) SetShown(true);
}

ScriptViewer::~ScriptViewer() {
  Shutdown();
  if (pane_) KeepSize();
  delete events_;
  runner_.reset();
  scriptLink_.reset();
  delete pane_;
}

void ScriptViewer::BindCommands(WindowCommands& commands) {
  action_ = commands.Action(Command::kScriptPane);
  action_->setChecked(Shown());
  commands.Bind(Command::kScriptPane, this, [this](bool on) {
    if (on != Shown()) SetShown(on);
  });
  runAction_ = commands.Action(Command::kRunScript);
  stopAction_ = commands.Action(Command::kStopScript);
  commands.Bind(Command::kRunScript, this, [this] { Run(); });
  commands.Bind(Command::kStopScript, this, [this] { Stop(); });
  ShowState();
}

bool ScriptViewer::Shown() const {
  return pane_ && !pane_->isHidden();
}

void ScriptViewer::EnsurePane() {
  if (pane_) return;
  ScriptPaneSettings stored = LoadScriptPaneSettings(settingsFile_);
  pane_ = new ScriptPane(nullptr);
  pane_->hide();
  pane_->OnRun([this] { Run(); });
  pane_->OnStop([this] { Stop(); });
  pane_->OnFileChanged([this](const QString& path) {
    ScriptPaneSettings settings = LoadScriptPaneSettings(settingsFile_);
    settings.file = path.toStdString();
    SaveScriptPaneSettings(settings, settingsFile_);
  });
  // The last script comes back; one that went is simply not there.
  if (!stored.file.empty()) {
    QString problem;
    pane_->OpenFile(QString::fromStdString(stored.file), problem);
  }
  layout_.AddBesideView(pane_, stored.width);
  pane_->SetRunning(Running());
}

void ScriptViewer::SetShown(bool shown) {
  if (shown) EnsurePane();
  if (pane_ && shown != Shown()) {
    if (!shown) KeepSize();
    layout_.ShowBesideView(pane_, shown);
  }
  if (action_) action_->setChecked(shown);
  ScriptPaneSettings stored = LoadScriptPaneSettings(settingsFile_);
  if (stored.shown != shown) {
    stored.shown = shown;
    SaveScriptPaneSettings(stored, settingsFile_);
  }
}

void ScriptViewer::KeepSize() {
  if (pane_->isHidden()) return;
  ScriptPaneSettings stored = LoadScriptPaneSettings(settingsFile_);
  stored.width = pane_->width();
  SaveScriptPaneSettings(stored, settingsFile_);
}

bool ScriptViewer::Running() const {
  return runner_ && runner_->Running();
}

bool ScriptViewer::Run() {
  SetShown(true);
  if (Running()) return false;
  pane_->ClearOutput();
  if (!link_.Wanted()) {
    pane_->AppendNote(QStringLiteral("The port is not open: open it, then run the script."), true);
    return false;
  }
  if (!runner_) {
    scriptLink_ = std::make_unique<SessionScriptLink>(link_, apply_);
    runner_ = std::make_unique<ScriptRunner>(*scriptLink_);
    events_ = new QSocketNotifier(runner_->EventDescriptor(), QSocketNotifier::Read, this);
    connect(events_, &QSocketNotifier::activated, this, &ScriptViewer::TakeEvents);
    clock_ = new QTimer(this);
    clock_->setInterval(1000);
    connect(clock_, &QTimer::timeout, this, &ScriptViewer::ShowState);
  }
  ScriptRunner::Options options;
  // Wakes a Shutdown that serves the hub's calls while it waits.
  UiCallQueue& calls = link_.Hub().uiCalls;
  options.ended = [&calls] { calls.Notify(); };
  QString name = pane_->ScriptName();
  std::string problem;
  if (!runner_->StartText(name.toStdString(), pane_->Code().toStdString(), options, problem)) {
    pane_->AppendNote(QString::fromStdString(problem), true);
    if (int line = ErrorLine(problem, name); line > 0) pane_->Editor().GoToLine(line);
    status_.SetText(StatusLine::Field::kScript, QStringLiteral("script: error"));
    return false;
  }
  started_ = std::chrono::steady_clock::now();
  path_ = link_.Path();
  clock_->start();
  // Said now, even of a script that has ended already: its end is an event
  // still to be taken.
  status_.SetText(StatusLine::Field::kScript, QStringLiteral("script: running 0 s"));
  ShowState();
  return true;
}

void ScriptViewer::Stop() {
  if (runner_) runner_->Stop();
}

void ScriptViewer::LinkChanged(const LinkStatus& status) {
  bool closed = !status.open && !status.waiting && !status.connecting;
  if (closed || link_.Path() != path_) Stop();
}

void ScriptViewer::Shutdown() {
  if (!runner_) return;
  runner_->Stop();
  link_.Hub().uiCalls.ServeUntil([this] { return !runner_->Running(); });
  TakeEvents();
}

void ScriptViewer::TakeEvents() {
  if (!runner_) return;
  for (ScriptEvent& event : runner_->TakeEvents()) {
    switch (event.kind) {
      case ScriptEvent::Kind::kPrinted:
        if (pane_) pane_->AppendPrinted(QString::fromUtf8(event.text));
        break;
      case ScriptEvent::Kind::kStep:
        if (pane_) pane_->AppendStep(event.step);
        break;
      case ScriptEvent::Kind::kEnded: {
        ScriptResult result = runner_->Wait();
        clock_->stop();
        if (pane_) {
          if (result.end == ScriptEnd::kError) {
            pane_->AppendNote(QString::fromUtf8(result.error), true);
            if (int line = ErrorLine(result.error, pane_->ScriptName()); line > 0) {
              pane_->Editor().GoToLine(line);
            }
          }
          pane_->AppendNote(LineWithoutEnd(PlainSummary(result)),
                            FailedSteps(result) > 0 || result.end == ScriptEnd::kError);
        }
        status_.SetText(StatusLine::Field::kScript, EndText(result));
        ShowState();
        break;
      }
    }
  }
}

void ScriptViewer::ShowState() {
  bool running = Running();
  if (pane_) pane_->SetRunning(running);
  if (runAction_) runAction_->setEnabled(!running);
  if (stopAction_) stopAction_->setEnabled(running);
  if (running) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::steady_clock::now() - started_)
                       .count();
    status_.SetText(StatusLine::Field::kScript,
                    QStringLiteral("script: running %1 s").arg(seconds));
  }
}

}  // namespace quorvel
