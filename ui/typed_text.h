// The text a user types and the bytes it stands for, in the encoding chosen
// in "Send options" (sending/text_encoding.h): for every box where a send, a
// pattern or a name is typed, and wherever kept bytes are shown as text. A
// character the encoding cannot carry is refused with a message naming it,
// never replaced. UI thread.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "sending/text_encoding.h"

class QWidget;

namespace quorvel {

// `bytes` as text; TypedBytes gives them back unchanged.
QString ShownText(std::string_view bytes, TextEncoding encoding);

// The bytes of `text`, or the first character `encoding` cannot carry.
EncodedText BytesOfText(const QString& text, TextEncoding encoding);

// The bytes of `text`; nothing, after a message to `parent` that opens with
// `where` ("The pattern holds") and names the character, when `encoding`
// cannot carry one of it.
std::optional<std::string> TypedBytes(QWidget* parent, const QString& text, TextEncoding encoding,
                                      std::string_view where);

}  // namespace quorvel
