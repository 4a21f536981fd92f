#include "core/strings.h"

namespace quorvel {

const char* LoadString(StringId id) {
  switch (id) {
    case StringId::kAboutMenu:
      return "About Quorvel(&A)...";
    case StringId::kSocketInitFail:
      return "Windows socket init fail";
    case StringId::kWriteFail:
      return "Write com fail!";
    case StringId::kOpenFail:
      return "Open com fail!";
    case StringId::kOpenCaption:
      return "Open com";
    case StringId::kCloseCaption:
      return "Close com";
  }
  return "";
}

}  // namespace quorvel
