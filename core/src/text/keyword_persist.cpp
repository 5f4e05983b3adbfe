#include <algorithm>

#include "text/keyword_format.h"
#include "text/keyword_index.h"
#include "util/bytes.h"
#include "util/crc32.h"
#include "util/file.h"

namespace quarn {

namespace {

void put_varint(std::vector<std::uint8_t>& out, std::uint32_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(v));
}

Result<std::uint32_t> read_varint(ByteReader& in) {
  std::uint64_t v = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    auto byte = in.read_u8();
    if (!byte) return std::move(byte).error();
    v |= static_cast<std::uint64_t>(*byte & 0x7F) << shift;
    if ((*byte & 0x80) == 0) {
      if (v > 0xFFFFFFFFu) break;
      return static_cast<std::uint32_t>(v);
    }
  }
  return QuarnError::corrupt("keyword index: bad varint");
}

struct TermPostings {
  std::size_t begin;  // into the flat slot and tf arrays
  std::size_t end;
};

}  // namespace

std::vector<std::uint8_t> KeywordIndex::serialize() const {
  std::vector<std::uint8_t> out;
  put_u32(out, kKeywordMagic);
  put_u32(out, kKeywordVersion);
  put_u8(out, Tokenizer::to_flags(options_.tokenizer));
  put_f32(out, options_.bm25.k1);
  put_f32(out, options_.bm25.b);
  std::vector<std::pair<std::string_view, std::uint32_t>> sorted(term_ids_.begin(), term_ids_.end());
  std::sort(sorted.begin(), sorted.end());
  put_u32(out, static_cast<std::uint32_t>(sorted.size()));
  for (const auto& [term, id] : sorted) {
    put_u32(out, static_cast<std::uint32_t>(term.size()));
    out.insert(out.end(), term.begin(), term.end());
    const PostingList& list = postings_[id];
    put_u32(out, static_cast<std::uint32_t>(list.size()));
    std::uint32_t next = 0;  // the smallest slot the following posting may have
    for (PostingList::Cursor c(&list); c.slot() != kNoSlot; c.next()) {
      put_varint(out, c.slot() - next);
      put_varint(out, c.tf());
      next = c.slot() + 1;
    }
  }
  put_u32(out, crc32(out));
  return out;
}

Result<KeywordIndex> KeywordIndex::deserialize(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return QuarnError::corrupt("keyword index: too short");
  const std::size_t body = bytes.size() - 4;
  if (crc32(bytes.first(body)) != load_u32(bytes.data() + body)) {
    return QuarnError::corrupt("keyword index: checksum mismatch");
  }
  ByteReader in(bytes.first(body));
  auto magic = in.read_u32();
  if (!magic) return std::move(magic).error();
  if (*magic != kKeywordMagic) return QuarnError::corrupt("keyword index: not a keyword index file");
  auto version = in.read_u32();
  if (!version) return std::move(version).error();
  if (*version != kKeywordVersion) {
    return QuarnError::corrupt("keyword index: unsupported version " + std::to_string(*version));
  }
  auto flags = in.read_u8();
  if (!flags) return std::move(flags).error();
  auto tokenizer = Tokenizer::from_flags(*flags);
  if (!tokenizer) return QuarnError::corrupt("keyword index: " + tokenizer.error().detail());
  KeywordIndexOptions options;
  options.tokenizer = *tokenizer;
  auto k1 = in.read_f32();
  if (!k1) return std::move(k1).error();
  auto b = in.read_f32();
  if (!b) return std::move(b).error();
  options.bm25 = {*k1, *b};
  auto created = create(options);
  if (!created) return std::move(created).error();
  KeywordIndex index = std::move(created).value();

  auto term_count = in.read_u32();
  if (!term_count) return std::move(term_count).error();
  if (*term_count > in.remaining()) return QuarnError::corrupt("keyword index: term count past the end");
  // First pass: terms and postings into flat arrays, summing the document lengths.
  std::vector<std::uint32_t> slots;
  std::vector<std::uint32_t> tfs;
  std::vector<TermPostings> ranges;
  std::vector<std::uint64_t> lengths;
  std::vector<std::uint32_t> distinct;  // terms per slot, to size the per-slot lists once
  std::string previous;
  for (std::uint32_t t = 0; t < *term_count; ++t) {
    auto size = in.read_u32();
    if (!size) return std::move(size).error();
    if (*size == 0 || *size > kKeywordMaxTermBytes) return QuarnError::corrupt("keyword index: bad term length");
    auto text = in.read_bytes(*size);
    if (!text) return std::move(text).error();
    std::string term(text->begin(), text->end());
    if (t > 0 && !(previous < term)) return QuarnError::corrupt("keyword index: terms out of order");
    auto count = in.read_u32();
    if (!count) return std::move(count).error();
    if (*count == 0 || *count > in.remaining() / 2) return QuarnError::corrupt("keyword index: bad posting count");
    const std::size_t begin = slots.size();
    std::uint64_t next = 0;
    for (std::uint32_t i = 0; i < *count; ++i) {
      auto gap = read_varint(in);
      if (!gap) return std::move(gap).error();
      auto tf = read_varint(in);
      if (!tf) return std::move(tf).error();
      const std::uint64_t slot = next + *gap;
      if (slot >= kNoSlot || *tf == 0) return QuarnError::corrupt("keyword index: bad posting");
      if (slot >= lengths.size()) {
        lengths.resize(std::max<std::size_t>(slot + 1, lengths.size() * 3 / 2), 0);
        distinct.resize(lengths.size(), 0);
      }
      lengths[slot] += *tf;
      ++distinct[slot];
      if (lengths[slot] > 0xFFFFFFFFu) return QuarnError::corrupt("keyword index: document too long");
      slots.push_back(static_cast<std::uint32_t>(slot));
      tfs.push_back(*tf);
      next = slot + 1;
    }
    ranges.push_back({begin, slots.size()});
    index.term_ids_.emplace(term, t);
    index.term_text_.push_back(term);
    previous = std::move(term);
  }
  if (in.remaining() != 0) return QuarnError::corrupt("keyword index: bytes after the last term");

  // Second pass: lengths, posting lists and the per-slot term lists (ids ascend with the terms).
  index.lengths_.assign(lengths.size(), 0);
  index.forward_.resize(lengths.size());
  for (std::size_t slot = 0; slot < lengths.size(); ++slot) {
    index.lengths_[slot] = static_cast<std::uint32_t>(lengths[slot]);
    index.forward_[slot].reserve(distinct[slot]);
    if (lengths[slot] != 0) {
      ++index.document_count_;
      index.total_length_ += lengths[slot];
    }
  }
  index.postings_.resize(ranges.size());
  for (std::uint32_t t = 0; t < ranges.size(); ++t) {
    for (std::size_t i = ranges[t].begin; i < ranges[t].end; ++i) {
      index.postings_[t].append(slots[i], tfs[i], index.lengths_[slots[i]]);
      index.forward_[slots[i]].push_back({t, tfs[i]});
    }
  }
  return index;
}

Status KeywordIndex::save(const std::string& path) const {
  auto file = FileHandle::create_truncate(path);
  if (!file) return std::move(file).error();
  BufferedWriter writer(std::move(file).value());
  const std::vector<std::uint8_t> bytes = serialize();
  QUARN_TRY(writer.write(bytes.data(), bytes.size()));
  QUARN_TRY(writer.sync());
  return writer.close();
}

Result<KeywordIndex> KeywordIndex::load(const std::string& path) {
  auto bytes = read_file(path);
  if (!bytes) return std::move(bytes).error();
  auto index = deserialize(*bytes);
  if (!index) return std::move(index).error().concerning(path);
  return index;
}

}  // namespace quarn
