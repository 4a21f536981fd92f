#include "engine/session_save.h"

namespace quorvel {

bool SaveSession(const SessionStore&, const std::string&, LogFormat, std::string& error) {
  error = "not yet";
  return false;
}

}  // namespace quorvel
