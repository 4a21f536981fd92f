#include "ui/typed_text.h"

#include "ui/message_box.h"

namespace quorvel {

QString ShownText(std::string_view bytes, TextEncoding encoding) {
  std::u16string text = DecodeText(bytes, encoding);
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

EncodedText BytesOfText(const QString& text, TextEncoding encoding) {
  return EncodeText(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                        static_cast<size_t>(text.size())),
                    encoding);
}

std::optional<std::string> TypedBytes(QWidget* parent, const QString& text, TextEncoding encoding,
                                      std::string_view where) {
  EncodedText encoded = BytesOfText(text, encoding);
  if (!encoded.refused) return std::move(encoded.bytes);
  ShowWarning(parent,
              QString::fromStdString(RefusedCharacterMessage(where, *encoded.refused, encoding)));
  return std::nullopt;
}

}  // namespace quorvel
