#include <host/eventlog.h>

#include <host/error.h>
#include <host/internal/eventlog_store.h>
#include <host/internal/utf.h>

#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Open sources by handle value. Handles are numbers drawn from a counter, not
// addresses, so a closed handle never comes back as another source's handle
// and looking one up never dereferences caller input.
class source_table {
  public:
    HANDLE add(std::string source) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::uintptr_t id = m_next;
        m_next += kStep;
        m_sources.emplace(id, std::move(source));
        return reinterpret_cast<HANDLE>(id);
    }

    bool remove(HANDLE handle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sources.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
    }

    // Copies the source name out, so that a concurrent close cannot free it
    // under the writer.
    bool find(HANDLE handle, std::string& source) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_sources.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == m_sources.end())
            return false;
        source = it->second;
        return true;
    }

    // Around fork: the child must not inherit the lock held by some other
    // thread of the parent, which would then never be released.
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }

  private:
    // Values in a range of their own: never null, never a pseudo handle
    // (-1, -2), far from heap addresses and from the small values of the
    // kernel-object handle table, so a handle passed to the wrong family of
    // functions is refused there too.
    static constexpr std::uintptr_t kFirst = 0x45564C0000000000u;
    static constexpr std::uintptr_t kStep = 4;

    std::mutex m_mutex;
    std::uintptr_t m_next = kFirst;                             // guarded by m_mutex
    std::unordered_map<std::uintptr_t, std::string> m_sources;  // guarded by m_mutex
};

source_table& sources();

source_table* new_source_table() {
    auto* table = new source_table;
    pthread_atfork([] { sources().lock(); }, [] { sources().unlock(); },
                   [] { sources().unlock(); });
    return table;
}

source_table& sources() {
    // Never destroyed: sources may be opened and closed from exit handlers.
    static source_table* table = new_source_table();
    return *table;
}

// Created at load, while the process has one thread, for the same reason as
// the store: a fork must not catch another thread inside the creation.
const struct eager_sources {
    eager_sources() { sources(); }
} g_eager_sources;

bool equals_ascii_nocase(const std::string& text, const char* word) {
    std::size_t i = 0;
    for (; word[i] != '\0'; ++i) {
        if (i == text.size())
            return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return i == text.size();
}

// Asked anew each time: a cached value would be the parent's in a forked child.
std::int64_t thread_id() {
    return static_cast<std::int64_t>(::syscall(SYS_gettid));
}

BOOL fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// The argument checks of ReportEventW; ERROR_SUCCESS when the record is well
// formed.
DWORD check_arguments(WORD numStrings, DWORD dataSize, LPCWSTR* strings, LPVOID rawData) {
    if (dataSize > EVENTLOG_MAX_DATA_SIZE)
        return RPC_S_INVALID_BOUND;
    if (dataSize > 0 && rawData == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (numStrings > 0 && strings == nullptr)
        return ERROR_INVALID_PARAMETER;
    for (WORD i = 0; i < numStrings; ++i) {
        if (strings[i] == nullptr)
            return ERROR_INVALID_PARAMETER;
        for (DWORD n = 0; strings[i][n] != 0; ++n) {
            if (n == EVENTLOG_MAX_STRING_LENGTH)
                return ERROR_INVALID_PARAMETER;
        }
    }
    return ERROR_SUCCESS;
}

std::string strings_as_json(WORD numStrings, LPCWSTR* strings) {
    std::string json = "[";
    for (WORD i = 0; i < numStrings; ++i) {
        if (i > 0)
            json.push_back(',');
        host::eventlog::append_json_string(
            json, host::utf::to_utf8(strings[i], host::utf::length(strings[i])));
    }
    json.push_back(']');
    return json;
}

}  // namespace

HANDLE RegisterEventSourceW(LPCWSTR server, LPCWSTR source) {
    try {
        if (server != nullptr && server[0] != 0) {
            SetLastError(RPC_S_SERVER_UNAVAILABLE);
            return nullptr;
        }
        if (source == nullptr || source[0] == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        std::string name = host::utf::to_utf8(source, host::utf::length(source));
        if (equals_ascii_nocase(name, "security")) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return sources().add(std::move(name));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL DeregisterEventSource(HANDLE eventLog) {
    return sources().remove(eventLog) ? TRUE : fail(ERROR_INVALID_HANDLE);
}

BOOL ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID /*userSid*/,
                  WORD numStrings, DWORD dataSize, LPCWSTR* strings, LPVOID rawData) {
    try {
        host::eventlog::caller_scope writing;
        host::eventlog::record r;
        if (!sources().find(eventLog, r.source))
            return fail(ERROR_INVALID_HANDLE);
        DWORD error = check_arguments(numStrings, dataSize, strings, rawData);
        if (error != ERROR_SUCCESS)
            return fail(error);
        r.type = type;
        r.category = category;
        r.event_id = eventId;
        r.strings_json = strings_as_json(numStrings, strings);
        r.data = rawData;
        r.data_size = dataSize;
        r.time = host::eventlog::format_time();
        r.pid = ::getpid();
        r.tid = thread_id();
        error = host::eventlog::append(r);
        return error == ERROR_SUCCESS ? TRUE : fail(error);
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}
