#pragma once

#include <cstddef>
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
    // Another Database object, in this process or another, holds the directory's writer lock.
    Locked,
    // A write to a database opened read-only.
    ReadOnly,
    // A vector with a NaN or infinite component.
    InvalidVector,
  };
  // Sub-kind of an Io error: an operating-system failure, damaged content, or data that ends early.
  enum class IoKind : std::uint8_t { Os, InvalidData, UnexpectedEof };

  static QuarnError dimension_mismatch(std::size_t expected, std::size_t got);
  static QuarnError duplicate_id(const std::string& id);
  static QuarnError not_found(const std::string& id);
  static QuarnError database_not_found(const std::string& path);
  // Io from errno, carrying the operating system's message and the file it concerns (when known).
  static QuarnError io_errno(int err, std::string file = {});
  static QuarnError io_invalid_data(std::string message);
  // Data ended before a field was complete: "failed to fill whole buffer".
  static QuarnError io_eof();
  static QuarnError corrupt(std::string message);
  static QuarnError locked(const std::string& dir);
  static QuarnError read_only(const std::string& dir);
  // Component `index` of a vector is NaN or infinite.
  static QuarnError non_finite(std::size_t index, float value);

  Kind kind() const { return kind_; }
  IoKind io_kind() const { return io_kind_; }
  // The variant's detail (an id, a path, the I/O message...), without the prefix.
  const std::string& detail() const { return detail_; }
  // The errno of an operating-system failure (IoKind::Os), 0 otherwise.
  int os_errno() const { return os_errno_; }
  // The file an operating-system failure concerns; empty when not known.
  const std::string& file() const { return file_; }
  // Full text, e.g. "io error: failed to fill whole buffer" or
  // "io error: /data/db/wal.quarn: No space left on device".
  std::string text() const;

 private:
  QuarnError(Kind kind, std::string detail, IoKind io_kind = IoKind::Os, int os_errno = 0, std::string file = {})
      : kind_(kind), io_kind_(io_kind), os_errno_(os_errno), detail_(std::move(detail)), file_(std::move(file)) {}

  Kind kind_;
  IoKind io_kind_;
  int os_errno_;
  std::string detail_;
  std::string file_;
};

}  // namespace quarn
