// Applying the records of wal.quarn on open. Entries go through the same write steps as the
// public operations, without their checks and without appending to the log.
#include <mutex>
#include <shared_mutex>

#include "db/db_impl.h"

namespace quarn {

namespace {

template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace

Status DbImpl::replay_wal(bool recover) {
  std::optional<WalDrop> dropped;
  Result<std::vector<WalEntry>> entries = [&] {
    std::lock_guard guard(wal_mutex_);
    return wal_.read_all(recover, &dropped);
  }();
  if (!entries.ok()) return std::move(entries).error();
  if (dropped) {
    const std::string what = dropped->damage ? "the log from the damaged record at byte offset " +
                                                   std::to_string(dropped->damage_offset) + " on"
                                             : "the log's torn tail";
    recovery_report_.push_back({wal_format::kFileName, dropped->damage ? "damage" : "torn_tail", dropped->offset,
                                dropped->bytes, dropped->records,
                                "left out " + what + ": " + std::to_string(dropped->bytes) + " bytes from offset " +
                                    std::to_string(dropped->offset) + ", " + std::to_string(dropped->records) +
                                    " readable records"});
  }
  // A run of Insert records for ids that are not live is applied as one batch insert: the same
  // slots, ids and contents as applying them one by one (a repeated id keeps the slot of its
  // first record and the contents of its last), built by the parallel batch path.
  std::vector<Item> run;
  auto flush_run = [&] {
    if (run.empty()) return;
    std::unique_lock id_guard(id_map_lock_);
    TableGuard guard(*this);
    insert_batch_held(std::move(run), guard);
    run.clear();
  };
  for (WalEntry& entry : *entries) {
    auto* insert = std::get_if<WalInsert>(&entry);
    if (insert != nullptr && insert->vector.size() == dim_) {
      const bool live = [&] {
        std::shared_lock id_guard(id_map_lock_);
        return id_to_slot_.contains(insert->id);
      }();
      if (!live) {
        run.push_back(Item{std::move(insert->id), std::move(insert->vector), std::move(insert->metadata),
                           std::move(insert->document)});
        continue;
      }
    }
    flush_run();
    apply_wal_entry(std::move(entry));
  }
  flush_run();
  return Status::success();
}

void DbImpl::apply_wal_entry(WalEntry entry) {
  std::unique_lock id_guard(id_map_lock_);
  std::visit(Overloaded{
                 [&](WalInsert& insert) {
                   // A vector of the wrong length is never written by this system; such a
                   // record is skipped whether or not the id exists.
                   if (insert.vector.size() != dim_) return;
                   if (auto slot = id_to_slot_.find(insert.id)) {
                     replace_record_locked(*slot, &insert.vector,
                                           std::optional<std::optional<Json>>(std::move(insert.metadata)),
                                           DocumentChange(std::in_place, std::move(insert.document)));
                   } else {
                     insert_record_locked(insert.id, std::move(insert.vector), std::move(insert.metadata),
                                          std::move(insert.document));
                   }
                 },
                 [&](WalDelete& del) {
                   if (auto slot = id_to_slot_.find(del.id)) delete_record_locked(del.id, *slot);
                 },
                 [&](WalUpdate& upd) {
                   const auto slot = id_to_slot_.find(upd.id);
                   if (!slot) return;
                   const bool vector_fits = upd.vector.has_value() && upd.vector->size() == dim_;
                   replace_record_locked(*slot, vector_fits ? &*upd.vector : nullptr, std::move(upd.metadata),
                                         std::move(upd.document));
                 },
             },
             entry);
}

}  // namespace quarn
