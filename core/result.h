// What an operation that can fail gives back: its value, or a failure with
// the reason in words the user can read ("cannot read fw.bin: No such file or
// directory"). What a failed call leaves behind is said at the call's own
// declaration.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace quorvel {

struct Failure {
  std::string reason;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}              // NOLINT: a value is a success
  Result(Failure failure) : failure_(std::move(failure)) {}  // NOLINT: so is a failure

  bool Ok() const { return value_.has_value(); }
  explicit operator bool() const { return Ok(); }
  T& Value() { return *value_; }
  const T& Value() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  // "" for a success.
  const std::string& Reason() const { return failure_.reason; }

 private:
  std::optional<T> value_;
  Failure failure_;
};

// A failure or nothing: Done{} is a success.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : failed_(true), failure_(std::move(failure)) {}  // NOLINT

  bool Ok() const { return !failed_; }
  explicit operator bool() const { return Ok(); }
  const std::string& Reason() const { return failure_.reason; }

 private:
  bool failed_ = false;
  Failure failure_;
};

using Done = Result<void>;

}  // namespace quorvel
