#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace quarn {

// The single error type of the engine. `text()` is the message the binding raises.
class QuarnError {
 public:
  enum class Kind : std::uint8_t {
    DimensionMismatch,
    DuplicateId,
    NotFound,
    DatabaseNotFound,
    Io,
    Corrupt,
  };
  // Sub-kind of an Io error: an operating-system failure, damaged content, or data that ends early.
  enum class IoKind : std::uint8_t { Os, InvalidData, UnexpectedEof };

  static QuarnError dimension_mismatch(std::size_t expected, std::size_t got);
  static QuarnError duplicate_id(const std::string& id);
  static QuarnError not_found(const std::string& id);
  static QuarnError database_not_found(const std::string& path);
  // Io from errno, carrying the operating system's message.
  static QuarnError io_errno(int err);
  static QuarnError io_invalid_data(std::string message);
  // Data ended before a field was complete: "failed to fill whole buffer".
  static QuarnError io_eof();
  static QuarnError corrupt(std::string message);

  Kind kind() const { return kind_; }
  IoKind io_kind() const { return io_kind_; }
  // The variant's detail (an id, a path, the I/O message...), without the prefix.
  const std::string& detail() const { return detail_; }
  // Full text, e.g. "io error: failed to fill whole buffer".
  std::string text() const;

 private:
  QuarnError(Kind kind, std::string detail, IoKind io_kind = IoKind::Os)
      : kind_(kind), io_kind_(io_kind), detail_(std::move(detail)) {}

  Kind kind_;
  IoKind io_kind_;
  std::string detail_;
};

}  // namespace quarn
