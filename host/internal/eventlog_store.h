// The event-log store: one SQLite database per store directory, shared by
// every thread and process that writes records.
//
// Each process keeps one connection and one prepared insert, opened on the
// first record and reopened when the store directory's environment changes
// or the process has forked. Writers of one process take turns through a
// group commit: the thread that finds the store idle writes every record
// queued so far in one transaction while later callers wait for it, so many
// threads cost fewer commits than records. Writers of different processes
// queue on SQLite's write lock with a bounded budget.
//
// Internal: callers use host/eventlog.h.
#pragma once

#include <host/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {
namespace eventlog {

// One record, ready to be stored. Text is UTF-8; `data` is borrowed from the
// caller and must stay valid until `append` returns.
struct record {
    std::string source;
    WORD type = 0;
    WORD category = 0;
    DWORD event_id = 0;
    std::string strings_json;  // a JSON array of the insertion strings
    const void* data = nullptr;
    std::size_t data_size = 0;
    std::string time;  // UTC, ISO 8601 with microseconds (format_time)
    std::int64_t pid = 0;
    std::int64_t tid = 0;
};

// Environment variable that bounds the number of records kept.
constexpr const char* kMaxRecordsVariable = "KES_EVENTLOG_MAX_RECORDS";
// The bound when that variable is unset or not a positive number.
constexpr std::int64_t kDefaultMaxRecords = 100000;

// The bound in force now (the environment is read at every call).
std::int64_t max_records();

// How many records beyond the bound the table may briefly hold: old records
// are trimmed once every `trim_interval(bound)` records, not after each one.
std::int64_t trim_interval(std::int64_t bound);

// The current time as the store writes it: "YYYY-MM-DDTHH:MM:SS.uuuuuuZ".
std::string format_time();

// Appends `text` to `out` as a JSON string literal (quoted and escaped).
void append_json_string(std::string& out, const std::string& text);

// Counts the calling thread as a writer from before it builds its record
// until `append` returns, so that a committing writer can wait a moment for
// records that are about to arrive instead of committing them one by one.
class caller_scope {
  public:
    caller_scope();
    ~caller_scope();
    caller_scope(const caller_scope&) = delete;
    caller_scope& operator=(const caller_scope&) = delete;
};

// Stores `r` and returns ERROR_SUCCESS once it is committed, or ERROR_CANTOPEN,
// ERROR_CANTWRITE or ERROR_NOT_ENOUGH_MEMORY with nothing stored. Blocks while
// other writers hold the store, for at most about two seconds in all.
DWORD append(const record& r);

}  // namespace eventlog
}  // namespace host
