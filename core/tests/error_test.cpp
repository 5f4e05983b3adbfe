#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <span>
#include <string>

#include "quarn/error.h"

namespace quarn {
namespace {

struct TextCase {
  QuarnError error;
  QuarnError::Kind kind;
  std::string text;
};

void expect_texts(std::span<const TextCase> cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.kind(), c.kind) << c.text;
    EXPECT_EQ(c.error.text(), c.text);
  }
}

// The texts the binding raises; a change here changes a message Python users see.
TEST(ErrorText, EveryKindWordsItsMessage) {
  const TextCase cases[] = {
      {QuarnError::dimension_mismatch(3, 4), QuarnError::Kind::DimensionMismatch, "dimension mismatch: expected 3, got 4"},
      {QuarnError::duplicate_id("a"), QuarnError::Kind::DuplicateId, "id 'a' already exists, use upsert instead"},
      {QuarnError::not_found("a"), QuarnError::Kind::NotFound, "id 'a' not found"},
      {QuarnError::database_not_found("/d"), QuarnError::Kind::DatabaseNotFound, "database not found at '/d'"},
      {QuarnError::io_errno(ENOSPC), QuarnError::Kind::Io, std::string("io error: ") + std::strerror(ENOSPC)},
      {QuarnError::io_errno(EIO, "/d/wal.quarn"), QuarnError::Kind::Io,
       std::string("io error: /d/wal.quarn: ") + std::strerror(EIO)},
      {QuarnError::io_eof(), QuarnError::Kind::Io, "io error: failed to fill whole buffer"},
      {QuarnError::corrupt("incomplete snapshot"), QuarnError::Kind::Corrupt, "corrupt data: incomplete snapshot"},
      {QuarnError::corrupt("bad graph magic", "/d/graph.quarn"), QuarnError::Kind::Corrupt,
       "corrupt data: /d/graph.quarn: bad graph magic"},
      {QuarnError::invalid_argument("dim must be at least 1"), QuarnError::Kind::InvalidArgument,
       "dim must be at least 1"},
      {QuarnError::read_only("/d"), QuarnError::Kind::ReadOnly, "database '/d' is open read-only; it cannot be written"},
      {QuarnError::non_finite(2, -1.0f / 0.0f), QuarnError::Kind::InvalidVector,
       "vector components must be finite: component 2 is -inf"},
  };
  expect_texts(cases);
}

TEST(ErrorText, OperatingSystemFailuresKeepErrnoAndFileApart) {
  const QuarnError named = QuarnError::io_errno(ENOENT, "/d/graph.quarn");
  EXPECT_EQ(named.io_kind(), QuarnError::IoKind::Os);
  EXPECT_EQ(named.os_errno(), ENOENT);
  EXPECT_EQ(named.file(), "/d/graph.quarn");
  EXPECT_EQ(named.detail(), std::strerror(ENOENT));
  EXPECT_EQ(QuarnError::io_eof().io_kind(), QuarnError::IoKind::UnexpectedEof);
  EXPECT_EQ(QuarnError::io_eof().os_errno(), 0);
}

// A loader names the file it was reading; what that does depends on what went wrong.
TEST(ErrorText, ConcerningAFileNamesItOnlyWhereItDoesNotAlreadyKnowOne) {
  const TextCase cases[] = {
      // Data that ends early is damage to that file.
      {QuarnError::io_eof().concerning("/d/graph.quarn"), QuarnError::Kind::Corrupt,
       "corrupt data: /d/graph.quarn: failed to fill whole buffer"},
      {QuarnError::corrupt("bad graph magic").concerning("/d/graph.quarn"), QuarnError::Kind::Corrupt,
       "corrupt data: /d/graph.quarn: bad graph magic"},
      // A file already named, by damage or by the operating system, keeps its name.
      {QuarnError::corrupt("x", "/d/vectors.sq8").concerning("/d/graph.quarn"), QuarnError::Kind::Corrupt,
       "corrupt data: /d/vectors.sq8: x"},
      {QuarnError::io_errno(EIO, "/d/vectors.bin").concerning("/d/graph.quarn"), QuarnError::Kind::Io,
       std::string("io error: /d/vectors.bin: ") + std::strerror(EIO)},
      {QuarnError::io_errno(EIO).concerning("/d/graph.quarn"), QuarnError::Kind::Io,
       std::string("io error: /d/graph.quarn: ") + std::strerror(EIO)},
      // Anything else is not about the file.
      {QuarnError::not_found("a").concerning("/d/graph.quarn"), QuarnError::Kind::NotFound, "id 'a' not found"},
  };
  expect_texts(cases);
}

}  // namespace
}  // namespace quarn
