// logger_c: moves and deletes that meet a file another open holds (a reader
// on Windows, another writer's log) are not waited for under the caller's
// lock. Each makes one attempt; one refused because the file is in use is
// queued, and the caller (which holds the manager's writer lock around every
// logger call) releases its lock, pauses and calls retry_held_files: only
// the caller that claimed the retry spends the pauses, the other tracing
// threads write on meanwhile.
#include <new>

#include "logfile/logger.h"
#include "logfile/path_ops.h"

namespace {

// Attempts per operation, the first included.
const unsigned MAX_ATTEMPTS = logger_c::RETRY_ROUNDS + 1;
// Operations queued at most; later ones fail quietly at once.
const unsigned MAX_QUEUED = 16;

}  // namespace

logger_c::retry_list_s::~retry_list_s() {
    while (void* p = first()) {
        remove_current();
        delete static_cast<item_s*>(p);
    }
}

// Queues the operation when the last error says the file is held open.
static void queue_when_held(logger_c& l, const char* from, const char* to) {
    if (!plat_error_in_use(plat_last_error()) || l.retries.num() >= MAX_QUEUED) return;
    auto* item = new (std::nothrow) logger_c::retry_list_s::item_s;
    if (!item) return;
    item->from.append(from);
    item->to.append(to ? to : "");
    item->attempts = 1;
    l.retries.append(item);
}

bool logger_c::move_or_queue(const char* from, const char* to) {
    plat_set_last_error(0);
    if (move_file(*this, from, to)) return true;
    queue_when_held(*this, from, to);
    return false;
}

bool logger_c::delete_or_queue(const char* path) {
    plat_set_last_error(0);
    if (delete_file(*this, path, false)) return true;
    queue_when_held(*this, path, nullptr);
    return false;
}

// Whether path names the file this logger writes now.
static bool in_use_here(const logger_c& l, const char* path) {
    if (l.file == PLAT_NO_FILE) return false;
    return same_path(path, l.continued.length ? l.continued.c_str() : l.file_name.c_str());
}

bool logger_c::claim_retry() {
    if (retrying || retries.num() == 0) return false;
    retrying = true;
    return true;
}

bool logger_c::retry_held_files(bool last_round) {
    for (void* p = retries.first(); p;) {
        auto* item = static_cast<retry_list_s::item_s*>(p);
        bool keep = false;
        // While the pause ran the writer may have taken the name again
        // (a reopen, a new directory): then the file is no longer the one
        // that was to go.
        if (!in_use_here(*this, item->from.c_str())) {
            plat_set_last_error(0);
            const bool done = item->to.length ? move_file(*this, item->from.c_str(), item->to.c_str())
                                              : delete_file(*this, item->from.c_str(), false);
            keep = !done && ++item->attempts < MAX_ATTEMPTS && plat_error_in_use(plat_last_error());
        }
        if (keep) {
            p = retries.next();
            continue;
        }
        p = retries.remove_current();
        delete item;
    }
    if (retries.num() == 0 || last_round) retrying = false;
    return retries.num() != 0;
}
