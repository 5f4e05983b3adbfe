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

QuarnError QuarnError::io_invalid_data(std::string message) {
  return QuarnError(Kind::Io, std::move(message), IoKind::InvalidData);
}

QuarnError QuarnError::io_eof() {
  return QuarnError(Kind::Io, "failed to fill whole buffer", IoKind::UnexpectedEof);
}

QuarnError QuarnError::corrupt(std::string message) { return QuarnError(Kind::Corrupt, std::move(message)); }

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
      return "corrupt data: " + detail_;
    case Kind::Locked:
      return "database '" + detail_ +
             "' is already open for writing (by this or another process); "
             "open it with read_only=True to read beside that writer";
    case Kind::ReadOnly:
      return "database '" + detail_ + "' is open read-only; it cannot be written";
    case Kind::InvalidVector:
      return "vector components must be finite: " + detail_;
  }
  return detail_;
}

}  // namespace quarn
