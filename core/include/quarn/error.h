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
    // An operating-system failure, or bytes that could not be read as what they should hold
    // before the file they came from was known (see concerning()).
    Io,
    // Damaged content of a stored file, named by file() when known.
    Corrupt,
    // Another Database object, in this process or another, holds the directory's writer lock.
    Locked,
    // A write to a database opened read-only.
    ReadOnly,
    // A vector with a NaN or infinite component.
    InvalidVector,
    // A parameter or argument the call cannot take; text() is the detail itself.
    InvalidArgument,
  };
  // Sub-kind of an Io error: an operating-system failure, or data that ends early (from a byte
  // cursor that does not know which file it reads; concerning() names the file).
  enum class IoKind : std::uint8_t { Os, UnexpectedEof };

  static QuarnError dimension_mismatch(std::size_t expected, std::size_t got);
  static QuarnError duplicate_id(const std::string& id);
  static QuarnError not_found(const std::string& id);
  static QuarnError database_not_found(const std::string& path);
  // Io from errno, carrying the operating system's message and the file it concerns (when known).
  static QuarnError io_errno(int err, std::string file = {});
  // Data ended before a field was complete: "failed to fill whole buffer".
  static QuarnError io_eof();
  static QuarnError corrupt(std::string message, std::string file = {});
  static QuarnError invalid_argument(std::string message);
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
  // The file an operating-system failure or damaged content concerns; empty when not known.
  const std::string& file() const { return file_; }
  // This error as met while reading `file`: damaged content (Corrupt, or an Io error of the
  // UnexpectedEof kind) becomes Corrupt naming the file, an operating-system
  // failure without a file gets this one, and any other error is returned unchanged.
  QuarnError concerning(const std::string& file) &&;
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
