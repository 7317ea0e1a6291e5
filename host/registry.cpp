#include <host/registry.h>

#include <host/internal/registry_store.h>
#include <host/internal/utf.h>
#include <host/store.h>

#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using host::reg_key_id;
using host::reg_name;
using host::registry_store;

namespace {

constexpr std::size_t kMaxKeyNameUnits = 255;
constexpr std::size_t kMaxValueNameUnits = 16383;
// Levels and units of path below HKEY_LOCAL_MACHINE. Win32 allows 512
// levels; 32,767 units is the longest name its native string type carries.
constexpr std::size_t kMaxDepth = 512;
constexpr std::size_t kMaxPathUnits = 32767;
constexpr DWORD kMaxValueBytes = 16u << 20;
constexpr std::uint32_t kMaxHandles = 1u << 24;
constexpr std::uint32_t kMaxGeneration = 0x7FFFFFFFu;
constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

// "SOFTWARE\Classes", the path of the key behind HKEY_CLASSES_ROOT.
constexpr std::size_t kClassesDepth = 2;
constexpr std::size_t kClassesPathUnits = 16;

// Generic rights a caller may ask for; each stands for a set of key rights.
constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;

REGSAM effective_rights(REGSAM desired) {
    REGSAM rights = desired & KEY_ALL_ACCESS;
    if ((desired & (kGenericAll | kMaximumAllowed)) != 0)
        rights |= KEY_ALL_ACCESS;
    if ((desired & kGenericRead) != 0)
        rights |= KEY_READ;
    if ((desired & kGenericWrite) != 0)
        rights |= KEY_WRITE;
    if ((desired & kGenericExecute) != 0)
        rights |= KEY_EXECUTE;
    return rights;
}

enum class predefined { none, machine, classes };

predefined predefined_of(HKEY key) {
    // Both the sign-extended Win32 form and a zero-extended spelling.
    auto value = reinterpret_cast<std::uintptr_t>(key);
    if (value >> 32 != 0 && value >> 32 != 0xFFFFFFFFu)
        return predefined::none;
    switch (static_cast<std::uint32_t>(value)) {
        case 0x80000002u:
            return predefined::machine;
        case 0x80000000u:
            return predefined::classes;
        default:
            return predefined::none;
    }
}

// Where a handle points: a key of one store, with the handle's rights and the
// key's position (for the depth and path limits).
struct key_place {
    registry_store* store = nullptr;
    reg_key_id key = 0;
    REGSAM rights = 0;
    std::size_t depth = 0;
    std::size_t path_units = 0;
};

struct handle_slot {
    std::uint32_t generation = 1;
    bool used = false;
    key_place place;
    std::shared_ptr<registry_store> owner;  // keeps place.store alive
    std::uint32_t next_free = kNoSlot;
};

// The process's registry state: open handles and the stores they use.
//
// One mutex serialises every registry operation of the process. The store
// has one SQLite connection, which must not be used by two threads at once
// anyway, and holding the same lock for the handle table keeps a handle's
// key and store stable while an operation uses them. The lock is a leaf:
// nothing is called out to while it is held.
//
// Fork: SQLite connections must not cross fork, so the prepare handler takes
// the lock and closes every connection; parent and child each reopen on
// their next operation. Handles stay valid on both sides.
//
// The state is created on first use and never destroyed, so that registry
// calls made by other threads or static destructors during exit stay safe.
class registry_state {
  public:
    static registry_state& get() {
        static registry_state* const state = new registry_state();
        return *state;
    }

    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(m_mutex); }

    // With the lock held: the key behind `key`, its store open. `owner`
    // (when given) receives shared ownership of the store, for a new handle.
    LSTATUS resolve(HKEY key, key_place* place, std::shared_ptr<registry_store>* owner) {
        switch (predefined_of(key)) {
            case predefined::machine:
            case predefined::classes:
                return resolve_root(predefined_of(key), place, owner);
            case predefined::none:
                break;
        }
        handle_slot* slot = find(key);
        if (slot == nullptr)
            return ERROR_INVALID_HANDLE;
        LSTATUS status = slot->place.store->open();
        if (status != ERROR_SUCCESS)
            return status;
        *place = slot->place;
        if (owner != nullptr)
            *owner = slot->owner;
        return ERROR_SUCCESS;
    }

    // With the lock held: a new handle for `place`.
    LSTATUS insert(const key_place& place, std::shared_ptr<registry_store> owner, HKEY* result) {
        std::uint32_t index = m_freeHead;
        if (index == kNoSlot) {
            if (m_slots.size() >= kMaxHandles)
                return ERROR_NOT_ENOUGH_MEMORY;
            m_slots.emplace_back();
            index = static_cast<std::uint32_t>(m_slots.size() - 1);
        } else {
            m_freeHead = m_slots[index].next_free;
        }
        handle_slot& slot = m_slots[index];
        slot.used = true;
        slot.place = place;
        slot.owner = std::move(owner);
        auto value = (static_cast<std::uint64_t>(slot.generation) << 32) | (index + 1u);
        *result = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(value));
        return ERROR_SUCCESS;
    }

    // With the lock held: releases a handle.
    LSTATUS close(HKEY key) {
        handle_slot* slot = find(key);
        if (slot == nullptr)
            return ERROR_INVALID_HANDLE;
        slot->used = false;
        slot->place = key_place();
        slot->owner.reset();  // may close a store no handle uses any more
        slot->generation = slot->generation == kMaxGeneration ? 1 : slot->generation + 1;
        slot->next_free = m_freeHead;
        m_freeHead = static_cast<std::uint32_t>(slot - m_slots.data());
        return ERROR_SUCCESS;
    }

  private:
    registry_state() { pthread_atfork(&before_fork, &after_fork, &after_fork); }

    static void before_fork() {
        registry_state& state = get();
        state.m_mutex.lock();
        if (state.m_current)
            state.m_current->close();
        for (handle_slot& slot : state.m_slots) {
            if (slot.used)
                slot.place.store->close();
        }
    }
    static void after_fork() { get().m_mutex.unlock(); }

    handle_slot* find(HKEY key) {
        auto value = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
        auto generation = static_cast<std::uint32_t>(value >> 32);
        auto index = static_cast<std::uint32_t>(value) - 1u;
        if (generation == 0 || index >= m_slots.size())
            return nullptr;
        handle_slot& slot = m_slots[index];
        return slot.used && slot.generation == generation ? &slot : nullptr;
    }

    // The store directory is taken from the environment when a predefined
    // root is used, so a process (a test) may move to a fresh directory
    // between operations; handles opened earlier keep their store. The
    // variables that name the directory are compared first, to avoid
    // recomputing (and re-creating) it on every call.
    static std::string environment_key() {
        std::string key;
        for (const char* name : {"KES_HOME", "XDG_STATE_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            key += value != nullptr ? value : "";
            key.push_back('\0');
        }
        return key;
    }

    LSTATUS resolve_root(predefined root, key_place* place,
                         std::shared_ptr<registry_store>* owner) {
        std::string environment = environment_key();
        if (!m_current || environment != m_environment) {
            std::string path = host::store_path("registry.db");
            if (!m_current || m_current->path() != path) {
                m_current = std::make_shared<registry_store>(path);
            }
            // A directory that could not be made is retried at the next call.
            m_environment = path.empty() ? std::string() : environment;
        }
        LSTATUS status = m_current->open();
        if (status != ERROR_SUCCESS)
            return status;
        place->store = m_current.get();
        place->rights = KEY_ALL_ACCESS;
        if (root == predefined::machine) {
            place->key = registry_store::kMachineKey;
            place->depth = 0;
            place->path_units = 0;
        } else {
            place->key = m_current->classes_key();
            place->depth = kClassesDepth;
            place->path_units = kClassesPathUnits;
        }
        if (owner != nullptr)
            *owner = m_current;
        return ERROR_SUCCESS;
    }

    std::mutex m_mutex;
    std::vector<handle_slot> m_slots;           // guarded by m_mutex
    std::uint32_t m_freeHead = kNoSlot;         // guarded by m_mutex
    std::shared_ptr<registry_store> m_current;  // guarded by m_mutex
    std::string m_environment;                  // guarded by m_mutex
};

// Units before the terminator, counting at most `limit + 1` of them, so that
// an over-long (or unterminated) name is recognised without reading it all.
std::size_t bounded_length(const WCHAR* text, std::size_t limit) {
    std::size_t length = 0;
    while (length <= limit && text[length] != 0)
        ++length;
    return length;
}

// Splits a key path into validated levels. Null and "" give no levels; one
// trailing backslash is allowed; empty levels are not.
LSTATUS parse_path(LPCWSTR text, std::vector<reg_name>* levels, std::size_t* units) {
    levels->clear();
    *units = 0;
    if (text == nullptr || text[0] == 0)
        return ERROR_SUCCESS;
    std::size_t length = bounded_length(text, kMaxPathUnits);
    if (length > kMaxPathUnits)
        return ERROR_INVALID_PARAMETER;
    if (text[length - 1] == '\\')
        --length;
    for (std::size_t start = 0; start <= length;) {
        std::size_t end = start;
        while (end < length && text[end] != '\\')
            ++end;
        std::size_t count = end - start;
        if (count == 0 || count > kMaxKeyNameUnits)
            return ERROR_INVALID_PARAMETER;
        reg_name level;
        if (!host::make_reg_name(text + start, count, &level))
            return ERROR_INVALID_PARAMETER;
        levels->push_back(std::move(level));
        start = end + 1;
    }
    *units = length;
    return ERROR_SUCCESS;
}

LSTATUS parse_value_name(LPCWSTR text, reg_name* name) {
    if (text == nullptr) {
        *name = reg_name();
        return ERROR_SUCCESS;
    }
    std::size_t length = bounded_length(text, kMaxValueNameUnits);
    if (length > kMaxValueNameUnits)
        return ERROR_INVALID_PARAMETER;
    return host::make_reg_name(text, length, name) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

// The place of the key `levels` below `base`, refused beyond the limits.
LSTATUS place_below(const key_place& base, std::size_t levels, std::size_t units,
                    key_place* place) {
    std::size_t depth = base.depth + levels;
    std::size_t path_units = base.path_units;
    if (units != 0)
        path_units += (path_units != 0 ? 1 : 0) + units;
    if (depth > kMaxDepth || path_units > kMaxPathUnits)
        return ERROR_INVALID_PARAMETER;
    *place = base;
    place->depth = depth;
    place->path_units = path_units;
    return ERROR_SUCCESS;
}

// Copies `text` with a terminator into a caller's buffer of `*units` units.
// ERROR_MORE_DATA (nothing copied, `*units` unchanged) when it does not fit.
LSTATUS copy_name(const std::string& utf8, LPWSTR buffer, LPDWORD units) {
    host::wstring name = host::utf::to_utf16(utf8);
    if (name.size() >= *units)
        return ERROR_MORE_DATA;
    std::memcpy(buffer, name.data(), name.size() * sizeof(WCHAR));
    buffer[name.size()] = 0;
    *units = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

void clear_class(LPWSTR keyClass, LPDWORD cchClass) {
    if (keyClass != nullptr && cchClass != nullptr && *cchClass > 0)
        keyClass[0] = 0;
    if (cchClass != nullptr)
        *cchClass = 0;
}

void clear_time(void* lastWriteTime) {
    if (lastWriteTime != nullptr)
        std::memset(lastWriteTime, 0, 8);
}

// The shared tail of RegCreateKeyExW and RegOpenKeyExW.
LSTATUS open_below(HKEY hKey, LPCWSTR subKey, REGSAM desired, bool create, HKEY* result,
                   bool* created) {
    std::vector<reg_name> levels;
    std::size_t units = 0;
    LSTATUS status = parse_path(subKey, &levels, &units);
    if (status != ERROR_SUCCESS)
        return status;

    registry_state& state = registry_state::get();
    auto guard = state.lock();
    key_place base;
    std::shared_ptr<registry_store> owner;
    status = state.resolve(hKey, &base, &owner);
    if (status != ERROR_SUCCESS)
        return status;
    key_place place;
    status = place_below(base, levels.size(), units, &place);
    if (status != ERROR_SUCCESS)
        return status;
    place.rights = effective_rights(desired);
    status = create ? base.store->create_path(base.key, levels, &place.key, created)
                    : base.store->open_path(base.key, levels, &place.key);
    if (status != ERROR_SUCCESS)
        return status;
    return state.insert(place, std::move(owner), result);
}

}  // namespace

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR subKey, DWORD reserved, LPWSTR /*keyClass*/,
                        DWORD options, REGSAM desired, const LPSECURITY_ATTRIBUTES /*security*/,
                        HKEY* result, LPDWORD disposition) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (subKey == nullptr || reserved != 0 || options != REG_OPTION_NON_VOLATILE) {
        return ERROR_INVALID_PARAMETER;
    }
    bool created = false;
    LSTATUS status = open_below(hKey, subKey, desired, true, result, &created);
    if (status == ERROR_SUCCESS && disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return status;
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD options, REGSAM desired, HKEY* result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (options != 0 && options != REG_OPTION_OPEN_LINK)
        return ERROR_INVALID_PARAMETER;
    return open_below(hKey, subKey, desired, false, result, nullptr);
}

LSTATUS RegCloseKey(HKEY hKey) {
    if (predefined_of(hKey) != predefined::none)
        return ERROR_SUCCESS;
    registry_state& state = registry_state::get();
    auto guard = state.lock();
    return state.close(hKey);
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD cbData) {
    if (reserved != nullptr || (data != nullptr && cbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    reg_name value;
    LSTATUS status = parse_value_name(name, &value);
    if (status != ERROR_SUCCESS)
        return status;

    registry_state& state = registry_state::get();
    auto guard = state.lock();
    key_place place;
    status = state.resolve(hKey, &place, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    if ((place.rights & KEY_QUERY_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    DWORD found_type = 0;
    DWORD size = 0;
    DWORD capacity = data != nullptr ? *cbData : 0;
    status = place.store->query_value(place.key, value.folded, &found_type, data, capacity, &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (type != nullptr)
        *type = found_type;
    if (cbData == nullptr)
        return ERROR_SUCCESS;
    *cbData = size;
    return data != nullptr && size > capacity ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD cbData) {
    if (reserved != 0 || (data == nullptr && cbData != 0) || cbData > kMaxValueBytes) {
        return ERROR_INVALID_PARAMETER;
    }
    reg_name value;
    LSTATUS status = parse_value_name(name, &value);
    if (status != ERROR_SUCCESS)
        return status;

    registry_state& state = registry_state::get();
    auto guard = state.lock();
    key_place place;
    status = state.resolve(hKey, &place, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    if ((place.rights & KEY_SET_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    return place.store->set_value(place.key, value, type, data, cbData);
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR name) {
    reg_name value;
    LSTATUS status = parse_value_name(name, &value);
    if (status != ERROR_SUCCESS)
        return status;

    registry_state& state = registry_state::get();
    auto guard = state.lock();
    key_place place;
    status = state.resolve(hKey, &place, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    if ((place.rights & KEY_SET_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    return place.store->delete_value(place.key, value.folded);
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR subKey) {
    if (subKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::vector<reg_name> levels;
    std::size_t units = 0;
    LSTATUS status = parse_path(subKey, &levels, &units);
    if (status != ERROR_SUCCESS)
        return status;

    registry_state& state = registry_state::get();
    auto guard = state.lock();
    key_place place;
    status = state.resolve(hKey, &place, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    return place.store->delete_key(place.key, levels);
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR subKey) {
    std::vector<reg_name> levels;
    std::size_t units = 0;
    LSTATUS status = parse_path(subKey, &levels, &units);
    if (status != ERROR_SUCCESS)
        return status;

    registry_state& state = registry_state::get();
    auto guard = state.lock();
    key_place place;
    status = state.resolve(hKey, &place, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    return place.store->delete_tree(place.key, levels, subKey == nullptr);
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD cchClass, void* lastWriteTime) {
    if (name == nullptr || cchName == nullptr || reserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    registry_state& state = registry_state::get();
    auto guard = state.lock();
    key_place place;
    LSTATUS status = state.resolve(hKey, &place, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    if ((place.rights & KEY_ENUMERATE_SUB_KEYS) == 0)
        return ERROR_ACCESS_DENIED;
    std::string found;
    status = place.store->enum_key(place.key, index, &found);
    if (status != ERROR_SUCCESS)
        return status;
    status = copy_name(found, name, cchName);
    if (status != ERROR_SUCCESS)
        return status;
    clear_class(keyClass, cchClass);
    clear_time(lastWriteTime);
    return ERROR_SUCCESS;
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD cbData) {
    if (name == nullptr || cchName == nullptr || reserved != nullptr ||
        (data != nullptr && cbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    registry_state& state = registry_state::get();
    auto guard = state.lock();
    key_place place;
    LSTATUS status = state.resolve(hKey, &place, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    if ((place.rights & KEY_QUERY_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    std::string found;
    DWORD found_type = 0;
    DWORD size = 0;
    DWORD capacity = data != nullptr ? *cbData : 0;
    status = place.store->enum_value(place.key, index, &found, &found_type, data, capacity, &size);
    if (status != ERROR_SUCCESS)
        return status;
    status = copy_name(found, name, cchName);
    if (status != ERROR_SUCCESS)
        return status;
    if (type != nullptr)
        *type = found_type;
    if (cbData == nullptr)
        return ERROR_SUCCESS;
    *cbData = size;
    return data != nullptr && size > capacity ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR keyClass, LPDWORD cchClass, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values,
                         LPDWORD maxValueNameLen, LPDWORD maxValueLen, LPDWORD cbSecurityDescriptor,
                         void* lastWriteTime) {
    if (reserved != nullptr)
        return ERROR_INVALID_PARAMETER;
    registry_state& state = registry_state::get();
    auto guard = state.lock();
    key_place place;
    LSTATUS status = state.resolve(hKey, &place, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    if ((place.rights & KEY_QUERY_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    host::reg_key_info info;
    status = place.store->query_info(place.key, &info);
    if (status != ERROR_SUCCESS)
        return status;
    clear_class(keyClass, cchClass);
    if (subKeys != nullptr)
        *subKeys = info.subkeys;
    if (maxSubKeyLen != nullptr)
        *maxSubKeyLen = info.max_subkey_units;
    if (maxClassLen != nullptr)
        *maxClassLen = 0;
    if (values != nullptr)
        *values = info.values;
    if (maxValueNameLen != nullptr)
        *maxValueNameLen = info.max_value_name_units;
    if (maxValueLen != nullptr)
        *maxValueLen = info.max_value_bytes;
    if (cbSecurityDescriptor != nullptr)
        *cbSecurityDescriptor = 0;
    clear_time(lastWriteTime);
    return ERROR_SUCCESS;
}
