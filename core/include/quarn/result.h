#pragma once

#include <cassert>
#include <optional>
#include <utility>
#include <variant>

#include "quarn/error.h"

namespace quarn {

// A value or a QuarnError. Engine operations return these instead of throwing.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(QuarnError error) : data_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return data_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & {
    assert(ok());
    return std::get<0>(data_);
  }
  const T& value() const& {
    assert(ok());
    return std::get<0>(data_);
  }
  T&& value() && {
    assert(ok());
    return std::get<0>(std::move(data_));
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const QuarnError& error() const& {
    assert(!ok());
    return std::get<1>(data_);
  }
  QuarnError&& error() && {
    assert(!ok());
    return std::get<1>(std::move(data_));
  }

 private:
  std::variant<T, QuarnError> data_;
};

// Success or a QuarnError.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(QuarnError error) : error_(std::move(error)) {}  // NOLINT: implicit by design
  static Status success() { return Status(); }

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const QuarnError& error() const& {
    assert(!ok());
    return *error_;
  }
  QuarnError&& error() && {
    assert(!ok());
    return std::move(*error_);
  }

 private:
  std::optional<QuarnError> error_;
};

}  // namespace quarn

// Propagates a failed Status or Result out of the calling function.
#define QUARN_TRY(expr)                                   \
  do {                                                    \
    auto quarn_try_result_ = (expr);                      \
    if (!quarn_try_result_.ok()) {                        \
      return std::move(quarn_try_result_).error();        \
    }                                                     \
  } while (0)
