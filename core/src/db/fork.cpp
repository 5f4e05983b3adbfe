// Locks held across fork(). Only the forking thread exists in the child; a lock that another
// thread held at the moment of the fork would stay held there forever. So the forking thread
// waits until it can take every lock of every live database itself, forks, and then releases
// them in the parent and makes them anew in the child.
#include <pthread.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <vector>

#include "db/db_impl.h"

namespace quarn {

namespace {

// Guards `live_databases`; taken before any database lock and held across the fork.
std::mutex registry_mutex;
std::vector<DbImpl*> live_databases;
std::once_flag handlers_installed;

}  // namespace

void DbImpl::lock_all_for_fork() {
  registry_mutex.lock();
  // A thread holds the locks of one database at a time, so taking them database by database,
  // each in the lock order, cannot deadlock with it.
  for (DbImpl* db : live_databases) {
    db->id_map_lock_.lock();
    db->wal_mutex_.lock();
    db->index_lock_.lock();
    db->slot_table_lock_.lock();
    db->metadata_lock_.lock();
    db->metadata_index_lock_.lock();
  }
}

void DbImpl::reset_all_in_child() {
  // The child's thread has a thread id of its own, and a reader-writer lock taken for writing
  // by the parent's thread cannot be unlocked by it; every lock is made anew, unlocked.
  //
  // The parent stays the one writer of its directories: in the child an inherited database is
  // read-only, and its copy of the lock file's descriptor is closed, so that the directory is
  // free again as soon as the parent lets go, whatever the child still does.
  for (DbImpl* db : live_databases) {
    db->writer_lock_ = FileHandle();
    db->read_only_ = true;
    new (&db->id_map_lock_) std::shared_mutex();
    new (&db->wal_mutex_) std::mutex();
    new (&db->index_lock_) std::shared_mutex();
    new (&db->slot_table_lock_) std::shared_mutex();
    new (&db->metadata_lock_) std::shared_mutex();
    new (&db->metadata_index_lock_) std::shared_mutex();
  }
  new (&registry_mutex) std::mutex();
}

void DbImpl::unlock_all_after_fork() {
  for (auto it = live_databases.rbegin(); it != live_databases.rend(); ++it) {
    DbImpl* db = *it;
    db->metadata_index_lock_.unlock();
    db->metadata_lock_.unlock();
    db->slot_table_lock_.unlock();
    db->index_lock_.unlock();
    db->wal_mutex_.unlock();
    db->id_map_lock_.unlock();
  }
  registry_mutex.unlock();
}

void DbImpl::register_for_fork() {
  std::call_once(handlers_installed, [] {
    pthread_atfork(&DbImpl::lock_all_for_fork, &DbImpl::unlock_all_after_fork, &DbImpl::reset_all_in_child);
  });
  std::lock_guard guard(registry_mutex);
  live_databases.push_back(this);
}

void DbImpl::unregister_for_fork() {
  std::lock_guard guard(registry_mutex);
  live_databases.erase(std::remove(live_databases.begin(), live_databases.end(), this), live_databases.end());
}

}  // namespace quarn
