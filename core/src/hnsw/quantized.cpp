#include <algorithm>

#include "hnsw/hnsw.h"
#include "hnsw/layer_walk.h"

namespace quarn {

void HnswIndex::enable_quantized_search() {
  if (links_.size() == 0) return;
  const std::span<const float> all(store_.data(), store_.float_count());
  ScalarQuantizer quantizer = ScalarQuantizer::train(all, dim_);
  std::vector<std::uint8_t> codes = quantizer.quantize_batch(all, dim_);
  quantized_ = QuantizedSearch{std::move(quantizer), std::move(codes)};
}

void HnswIndex::load_quantized(ScalarQuantizer quantizer, std::vector<std::uint8_t> codes) {
  quantized_ = QuantizedSearch{std::move(quantizer), std::move(codes)};
}

namespace {

// Whether the slot's codes and the quantizer cover dim components: a damaged state (short code
// block, quantizer of another dimension) is never read past its end; such a slot is compared
// exactly instead.
bool codes_cover(const QuantizedSearch& state, Slot slot, std::size_t dim, std::size_t scratch) {
  const std::size_t offset = std::size_t{slot} * dim;
  return offset + dim <= state.codes.size() && state.quantizer.mins.size() >= dim &&
         state.quantizer.scales.size() >= dim && scratch >= dim;
}

}  // namespace

float HnswIndex::quantized_distance(std::span<const float> query, Slot slot, std::span<float> scratch) const {
  const QuantizedSearch& state = *quantized_;
  if (!codes_cover(state, slot, dim_, scratch.size())) return span_distance_(query.data(), row_data(slot), dim_);
  return code_distance_(query.data(), state.codes.data() + std::size_t{slot} * dim_, state.quantizer.scales.data(),
                        state.quantizer.mins.data(), scratch.data(), dim_);
}

void HnswIndex::quantized_distance_pair(std::span<const float> query, Slot a, Slot b, std::span<float> scratch,
                                        float* out) const {
  const QuantizedSearch& state = *quantized_;
  if (!codes_cover(state, a, dim_, scratch.size()) || !codes_cover(state, b, dim_, scratch.size())) {
    out[0] = quantized_distance(query, a, scratch);
    out[1] = quantized_distance(query, b, scratch);
    return;
  }
  code_pair_distance_(query.data(), state.codes.data() + std::size_t{a} * dim_,
                      state.codes.data() + std::size_t{b} * dim_, state.quantizer.scales.data(),
                      state.quantizer.mins.data(), scratch.data(), dim_, out);
}

std::vector<Candidate> HnswIndex::search_layer_quantized(std::span<const float> query, Slot entry,
                                                         std::size_t ef) const {
  std::vector<float> scratch(dim_, 0.0f);
  return detail::beam_search(*this, detail::CodeScorer{*this, query, scratch}, [&](Slot s) { prefetch_codes(s); },
                             entry, ef, 0);
}

std::vector<Candidate> HnswIndex::search_layer0_quantized(std::span<const float> query, std::size_t k,
                                                          std::size_t beam, Slot entry, std::size_t rerank) const {
  std::vector<Candidate> ranked = search_layer_quantized(query, entry, beam);
  std::erase_if(ranked, [&](const Candidate& cand) { return deleted_.count(cand.slot) != 0; });
  rerank_exact(query, ranked, k, rerank);
  if (ranked.size() > k) ranked.resize(k);
  return ranked;
}

void HnswIndex::rerank_exact(std::span<const float> query, std::vector<Candidate>& found, std::size_t k,
                             std::size_t rerank) const {
  if (rerank != 0 && found.size() > std::max(rerank, k)) found.resize(std::max(rerank, k));
  if (store_.on_disk()) {
    // Every row's pages are asked for before the first is read, so the reads overlap and a
    // query waits about once for the disk instead of once per row.
    for (const Candidate& cand : found) store_.will_need(std::size_t{cand.slot} * dim_, dim_);
  }
  const float norm = vector_norm(query);
  for (Candidate& cand : found) cand.distance = query_distance(query, norm, cand.slot);
  std::stable_sort(found.begin(), found.end(),
                   [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
}

Status HnswIndex::move_rows_to_disk(const std::string& vectors_path, const std::string& dir) {
  QUARN_TRY(store_.move_to_disk(vectors_path, dir));
  codes_follow_rows_ = true;
  codes_trained_on_ = quantized_.has_value() ? links_.size() : 0;
  keep_codes_current();
  return Status::success();
}

void HnswIndex::keep_codes_current() {
  if (!codes_follow_rows_ || links_.size() == 0) return;
  if (quantized_.has_value() && links_.size() < 2 * codes_trained_on_) return;
  enable_quantized_search();
  codes_trained_on_ = links_.size();
}

}  // namespace quarn
