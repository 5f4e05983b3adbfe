#include "quarn/error.h"

#include <cmath>
#include <cstring>

namespace quarn {

QuarnError QuarnError::dimension_mismatch(std::size_t expected, std::size_t got) {
  return QuarnError(Kind::DimensionMismatch,
                    "expected " + std::to_string(expected) + ", got " + std::to_string(got));
}

QuarnError QuarnError::duplicate_id(const std::string& id) { return QuarnError(Kind::DuplicateId, id); }

QuarnError QuarnError::not_found(const std::string& id) { return QuarnError(Kind::NotFound, id); }

QuarnError QuarnError::database_not_found(const std::string& path) {
  return QuarnError(Kind::DatabaseNotFound, path);
}

QuarnError QuarnError::io_errno(int err, std::string file) {
  return QuarnError(Kind::Io, std::strerror(err), IoKind::Os, err, std::move(file));
}

QuarnError QuarnError::io_eof() {
  return QuarnError(Kind::Io, "failed to fill whole buffer", IoKind::UnexpectedEof);
}

QuarnError QuarnError::corrupt(std::string message, std::string file) {
  return QuarnError(Kind::Corrupt, std::move(message), IoKind::Os, 0, std::move(file));
}

QuarnError QuarnError::invalid_argument(std::string message) {
  return QuarnError(Kind::InvalidArgument, std::move(message));
}

QuarnError QuarnError::concerning(const std::string& file) && {
  const bool damaged = kind_ == Kind::Corrupt || (kind_ == Kind::Io && io_kind_ != IoKind::Os);
  if (damaged) return corrupt(std::move(detail_), file_.empty() ? file : std::move(file_));
  if (kind_ == Kind::Io && file_.empty()) file_ = file;
  return std::move(*this);
}

QuarnError QuarnError::locked(const std::string& dir) { return QuarnError(Kind::Locked, dir); }

QuarnError QuarnError::read_only(const std::string& dir) { return QuarnError(Kind::ReadOnly, dir); }

QuarnError QuarnError::non_finite(std::size_t index, float value) {
  const char* what = std::isnan(value) ? "NaN" : (value > 0 ? "inf" : "-inf");
  return QuarnError(Kind::InvalidVector, "component " + std::to_string(index) + " is " + what);
}

std::string QuarnError::text() const {
  switch (kind_) {
    case Kind::DimensionMismatch:
      return "dimension mismatch: " + detail_;
    case Kind::DuplicateId:
      return "id '" + detail_ + "' already exists, use upsert instead";
    case Kind::NotFound:
      return "id '" + detail_ + "' not found";
    case Kind::DatabaseNotFound:
      return "database not found at '" + detail_ + "'";
    case Kind::Io:
      return file_.empty() ? "io error: " + detail_ : "io error: " + file_ + ": " + detail_;
    case Kind::Corrupt:
      return file_.empty() ? "corrupt data: " + detail_ : "corrupt data: " + file_ + ": " + detail_;
    case Kind::Locked:
      return "database '" + detail_ +
             "' is already open for writing (by this or another process); "
             "open it with read_only=True to read beside that writer";
    case Kind::ReadOnly:
      return "database '" + detail_ + "' is open read-only; it cannot be written";
    case Kind::InvalidVector:
      return "vector components must be finite: " + detail_;
    case Kind::InvalidArgument:
      return detail_;
  }
  return detail_;
}

}  // namespace quarn
