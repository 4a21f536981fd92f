// The dialogs that choose a port of its own: "Open second port…" asks for
// one, "Monitor two ports as one link…" and "Bridge two ports…" for two (A
// and B). Each port has its place (a COM name from the list, a device that
// is present, or a path or network address typed in) and its line settings
// (baud rate, any whole number, data bits, parity, stop bits, flow control).
// What leads nowhere, a rate that is no rate, or the same port twice is
// refused in the dialog with the reason, and the dialog stays open. Modal,
// UI thread.
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "link/port_names.h"
#include "settings/port_choice_settings.h"

class QWidget;

namespace quorvel {

// Why `choice` cannot be opened, in a sentence; "" when it can.
std::string PortChoiceProblem(const PortChoice& choice, const PortNames& names);

// One port; `stored` fills the form first. nullopt when cancelled.
std::optional<PortChoice> AskPortChoice(QWidget* parent, const QString& title,
                                        const PortNames& names, const PortChoice& stored);

// Two ports, A and B (`what` says what happens to them, above the form).
struct PortPair {
  PortChoice a;
  PortChoice b;
};
std::optional<PortPair> AskPortPair(QWidget* parent, const QString& title, const QString& what,
                                    const PortNames& names, const PortPair& stored);

}  // namespace quorvel
