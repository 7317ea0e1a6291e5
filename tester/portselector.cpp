#include <tester/portselector.h>

#include <host/oleauto.h>
#include <host/taskalloc.h>
#include <tester/internal/regconfig.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace tester {
namespace {

// A task-memory copy of `values` (a valid zero-length block when empty), or
// null when memory is exhausted.
LONG* TaskArray(const std::vector<LONG>& values) {
    void* block = CoTaskMemAlloc(values.size() * sizeof(LONG));
    if (block != nullptr && !values.empty())
        std::memcpy(block, values.data(), values.size() * sizeof(LONG));
    return static_cast<LONG*>(block);
}

// A terminated task-memory copy of `text`, or null when memory is exhausted.
WCHAR* TaskString(const host::wstring& text) {
    void* block = CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR));
    if (block == nullptr)
        return nullptr;
    std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    return static_cast<WCHAR*>(block);
}

host::wstring PortName(const PortConfig& port) {
    if (!port.name.empty())
        return port.name;
    std::string text = "Port " + std::to_string(port.number);
    return host::wstring(text.begin(), text.end());
}

bool KnownSavedInfoType(EListSavedInfoType type) {
    return type >= SavedInfoPortLabel && type <= SavedInfoUserData;
}

// Handles must be non-zero and unique.
bool ValidPorts(const std::vector<PortConfig>& ports) {
    std::set<LONG> seen;
    for (const PortConfig& port : ports) {
        if (port.handle == 0 || !seen.insert(port.handle).second)
            return false;
    }
    return true;
}

}  // namespace

PortSelectorConfig DefaultPortSelectorConfig(int ports) {
    PortSelectorConfig config;
    for (int i = 0; i < ports; ++i) {
        PortConfig port;
        port.handle = 101 + i;
        port.number = 1 + i;
        port.label = "P" + std::to_string(1 + i);
        std::string name = "Port " + std::to_string(1 + i);
        port.name.assign(name.begin(), name.end());
        port.group = 1 + i % 2;
        port.module = 11 + i / 2;
        port.cpu = 1 + i / 4;
        port.portType = 11;  // gigabit Ethernet
        port.dummy = ports > 2 && i == ports - 1;
        port.synchronized = i < 2;
        port.slaveIndex = static_cast<ULONG>(i);
        config.ports.push_back(port);
        config.savedPorts.push_back(port.handle);
        host::wstring key = reg::Number(port.number);
        config.savedInfo[SavedInfoPortLabel].emplace_back(key, reg::Widen(port.label));
        config.savedInfo[SavedInfoPortName].emplace_back(key, port.name);
    }
    config.groups = {1, 2};
    return config;
}

PortSelector::PortSelector() : PortSelector(PortSelectorConfig()) {}

PortSelector::PortSelector(PortSelectorConfig config) : m_Events(this), m_GuardEvents(this) {
    for (auto& calls : m_Calls)
        calls.store(0);
    for (auto& result : m_Results)
        result.store(S_OK);
    if (ValidPorts(config.ports))
        m_Config = std::move(config);
}

PortSelector::~PortSelector() = default;

// ---- Bookkeeping -------------------------------------------------------------------

HRESULT PortSelector::Enter(SelectorMethod method) {
    std::size_t index = static_cast<std::size_t>(method);
    m_Calls[index].fetch_add(1, std::memory_order_relaxed);
    HRESULT forced = m_Results[index].load(std::memory_order_relaxed);
    return FAILED(forced) ? forced : S_OK;
}

HRESULT PortSelector::Leave(SelectorMethod method, HRESULT hr) const {
    HRESULT forced = m_Results[static_cast<std::size_t>(method)].load(std::memory_order_relaxed);
    if (hr == S_OK && forced != S_OK && SUCCEEDED(forced))
        return forced;
    return hr;
}

void PortSelector::SetResult(SelectorMethod method, HRESULT result) {
    m_Results[static_cast<std::size_t>(method)].store(result, std::memory_order_relaxed);
}

LONG PortSelector::Calls(SelectorMethod method) const {
    return m_Calls[static_cast<std::size_t>(method)].load(std::memory_order_relaxed);
}

LONG PortSelector::TotalCalls() const {
    LONG total = 0;
    for (const auto& calls : m_Calls)
        total += calls.load(std::memory_order_relaxed);
    return total;
}

host::wstring PortSelector::LastMapping() const {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_LastMapping;
}

LONG PortSelector::LastMappingLength() const {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_LastMappingLength;
}

host::wstring PortSelector::LastSavedInfoKey() const {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_LastKey;
}

LONG PortSelector::LastSavedInfoKeyLength() const {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_LastKeyLength;
}

void PortSelector::DisconnectAllSinks() {
    m_Events.DisconnectAll();
    m_GuardEvents.DisconnectAll();
}

const PortConfig* PortSelector::FindPort(LONG handle) const {
    for (const PortConfig& port : m_Config.ports) {
        if (port.handle == handle)
            return &port;
    }
    return nullptr;
}

bool PortSelector::GroupExists(LONG group) const {
    if (group == 0)
        return false;
    if (std::find(m_Config.groups.begin(), m_Config.groups.end(), group) != m_Config.groups.end())
        return true;
    return std::any_of(m_Config.ports.begin(), m_Config.ports.end(),
                       [group](const PortConfig& port) { return port.group == group; });
}

template <class Keep>
HRESULT PortSelector::ListWhere(Keep keep, LONG* count, LONG** ports) const {
    std::vector<const PortConfig*> chosen;
    for (const PortConfig& port : m_Config.ports) {
        if (keep(port))
            chosen.push_back(&port);
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const PortConfig* a, const PortConfig* b) {
        return a->number < b->number;
    });
    std::vector<LONG> handles;
    for (const PortConfig* port : chosen)
        handles.push_back(port->handle);
    LONG* block = TaskArray(handles);
    if (block == nullptr)
        return E_OUTOFMEMORY;
    *count = static_cast<LONG>(handles.size());
    *ports = block;
    return S_OK;
}

// ---- IIntPortSelector ------------------------------------------------------------------

HRESULT PortSelector::GetPortCount(LONG* count) {
    if (HRESULT hr = Enter(SelectorMethod::GetPortCount); FAILED(hr))
        return hr;
    if (count == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    *count = static_cast<LONG>(m_Config.ports.size());
    return Leave(SelectorMethod::GetPortCount, S_OK);
}

HRESULT PortSelector::GetSelectorVersion(LONG* version) {
    if (HRESULT hr = Enter(SelectorMethod::GetSelectorVersion); FAILED(hr))
        return hr;
    if (version == nullptr)
        return E_POINTER;
    *version = 1;
    return Leave(SelectorMethod::GetSelectorVersion, S_OK);
}

HRESULT PortSelector::IsValidPort(LONG port, LONG* flag) {
    if (HRESULT hr = Enter(SelectorMethod::IsValidPort); FAILED(hr))
        return hr;
    if (flag == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    *flag = FindPort(port) != nullptr ? 1 : 0;
    return Leave(SelectorMethod::IsValidPort, S_OK);
}

HRESULT PortSelector::IsDummyPort(LONG port, LONG* flag) {
    if (HRESULT hr = Enter(SelectorMethod::IsDummyPort); FAILED(hr))
        return hr;
    if (flag == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    const PortConfig* found = FindPort(port);
    if (found == nullptr)
        return E_INVALIDARG;
    *flag = found->dummy ? 1 : 0;
    return Leave(SelectorMethod::IsDummyPort, S_OK);
}

HRESULT PortSelector::ListPorts(LONG* count, LONG** ports) {
    if (HRESULT hr = Enter(SelectorMethod::ListPorts); FAILED(hr))
        return hr;
    if (count == nullptr || ports == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    HRESULT hr = ListWhere([](const PortConfig&) { return true; }, count, ports);
    return Leave(SelectorMethod::ListPorts, hr);
}

HRESULT PortSelector::ListSynchronizedPorts(LONG* count, LONG** ports) {
    if (HRESULT hr = Enter(SelectorMethod::ListSynchronizedPorts); FAILED(hr))
        return hr;
    if (count == nullptr || ports == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    HRESULT hr = ListWhere([](const PortConfig& port) { return port.synchronized; }, count, ports);
    return Leave(SelectorMethod::ListSynchronizedPorts, hr);
}

HRESULT PortSelector::IsValidGroup(LONG group, LONG* flag) {
    if (HRESULT hr = Enter(SelectorMethod::IsValidGroup); FAILED(hr))
        return hr;
    if (flag == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    *flag = GroupExists(group) ? 1 : 0;
    return Leave(SelectorMethod::IsValidGroup, S_OK);
}

HRESULT PortSelector::ListPortsInGroup(LONG group, LONG* count, LONG** ports) {
    if (HRESULT hr = Enter(SelectorMethod::ListPortsInGroup); FAILED(hr))
        return hr;
    if (count == nullptr || ports == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    if (!GroupExists(group))
        return E_INVALIDARG;
    HRESULT hr =
        ListWhere([group](const PortConfig& port) { return port.group == group; }, count, ports);
    return Leave(SelectorMethod::ListPortsInGroup, hr);
}

HRESULT PortSelector::ListPortsInModule(LONG module, LONG* count, LONG** ports) {
    if (HRESULT hr = Enter(SelectorMethod::ListPortsInModule); FAILED(hr))
        return hr;
    if (count == nullptr || ports == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    bool known = std::any_of(m_Config.ports.begin(), m_Config.ports.end(),
                             [module](const PortConfig& port) { return port.module == module; });
    if (!known)
        return E_INVALIDARG;
    HRESULT hr =
        ListWhere([module](const PortConfig& port) { return port.module == module; }, count, ports);
    return Leave(SelectorMethod::ListPortsInModule, hr);
}

HRESULT PortSelector::GetPortInterface(LONG port, const GUID& riid, void** ppv) {
    if (HRESULT hr = Enter(SelectorMethod::GetPortInterface); FAILED(hr))
        return hr;
    if (ppv == nullptr)
        return E_POINTER;
    host::ComPtr<IUnknown> object;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (FindPort(port) == nullptr)
            return E_INVALIDARG;
        auto found = m_PortObjects.find(port);
        if (found != m_PortObjects.end())
            object = found->second;
    }
    if (!object)
        return E_NOINTERFACE;
    // Asked outside the lock: the port object is outside code.
    void* result = nullptr;
    HRESULT hr = object->QueryInterface(riid, &result);
    if (FAILED(hr))
        return hr;
    *ppv = result;
    return Leave(SelectorMethod::GetPortInterface, hr);
}

HRESULT PortSelector::GetPortMode(EPiPortMode* mode) {
    if (HRESULT hr = Enter(SelectorMethod::GetPortMode); FAILED(hr))
        return hr;
    if (mode == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    *mode = m_Config.mode;
    return Leave(SelectorMethod::GetPortMode, S_OK);
}

HRESULT PortSelector::ReadyToStart() {
    if (HRESULT hr = Enter(SelectorMethod::ReadyToStart); FAILED(hr))
        return hr;
    std::lock_guard<std::mutex> hold(m_Lock);
    bool anyReal = std::any_of(m_Config.ports.begin(), m_Config.ports.end(),
                               [](const PortConfig& port) { return !port.dummy; });
    return Leave(SelectorMethod::ReadyToStart, m_Config.readyToStart && anyReal ? S_OK : S_FALSE);
}

HRESULT PortSelector::GetSlaveAddress(LONG slave, LONG port, ULONG* ipAddress, ULONG* portNumber,
                                      ULONG* portIndex) {
    if (HRESULT hr = Enter(SelectorMethod::GetSlaveAddress); FAILED(hr))
        return hr;
    if (ipAddress == nullptr || portNumber == nullptr || portIndex == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    const PortConfig* found = FindPort(port);
    if (found == nullptr || found->slave != slave)
        return E_INVALIDARG;
    *ipAddress = found->slaveAddress;
    *portNumber = found->slavePort;
    *portIndex = found->slaveIndex;
    return Leave(SelectorMethod::GetSlaveAddress, S_OK);
}

HRESULT PortSelector::GetModuleOfPort(LONG port, LONG* module) {
    if (HRESULT hr = Enter(SelectorMethod::GetModuleOfPort); FAILED(hr))
        return hr;
    if (module == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    const PortConfig* found = FindPort(port);
    if (found == nullptr)
        return E_INVALIDARG;
    *module = found->module;
    return Leave(SelectorMethod::GetModuleOfPort, S_OK);
}

HRESULT PortSelector::GetPortNumber(LONG port, LONG* number) {
    if (HRESULT hr = Enter(SelectorMethod::GetPortNumber); FAILED(hr))
        return hr;
    if (number == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    const PortConfig* found = FindPort(port);
    if (found == nullptr)
        return E_INVALIDARG;
    *number = found->number;
    return Leave(SelectorMethod::GetPortNumber, S_OK);
}

HRESULT PortSelector::ListPortsOnSameCpu(LONG port, LONG* count, LONG** ports) {
    if (HRESULT hr = Enter(SelectorMethod::ListPortsOnSameCpu); FAILED(hr))
        return hr;
    if (count == nullptr || ports == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    const PortConfig* found = FindPort(port);
    if (found == nullptr)
        return E_INVALIDARG;
    LONG cpu = found->cpu;
    HRESULT hr =
        ListWhere([cpu](const PortConfig& other) { return other.cpu == cpu; }, count, ports);
    return Leave(SelectorMethod::ListPortsOnSameCpu, hr);
}

HRESULT PortSelector::GetPortDetails(LONG port, LONG* module, LONG* portType) {
    if (HRESULT hr = Enter(SelectorMethod::GetPortDetails); FAILED(hr))
        return hr;
    if (module == nullptr || portType == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    const PortConfig* found = FindPort(port);
    if (found == nullptr)
        return E_INVALIDARG;
    *module = found->module;
    *portType = found->portType;
    return Leave(SelectorMethod::GetPortDetails, S_OK);
}

HRESULT PortSelector::GetPortName(LONG port, LONG style, WCHAR** name) {
    if (HRESULT hr = Enter(SelectorMethod::GetPortName); FAILED(hr))
        return hr;
    if (name == nullptr)
        return E_POINTER;
    host::wstring text;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        const PortConfig* found = FindPort(port);
        if (found == nullptr || (style != 0 && style != 1))
            return E_INVALIDARG;
        text = PortName(*found);
        if (style == 1) {
            std::string prefix = "M" + std::to_string(found->module) + "/";
            text.insert(text.begin(), prefix.begin(), prefix.end());
        }
    }
    WCHAR* block = TaskString(text);
    if (block == nullptr)
        return E_OUTOFMEMORY;
    *name = block;
    return Leave(SelectorMethod::GetPortName, S_OK);
}

HRESULT PortSelector::GetPortLabelBstrFromHandle(LONG handle, BSTR* label) {
    if (HRESULT hr = Enter(SelectorMethod::GetPortLabelBstrFromHandle); FAILED(hr))
        return hr;
    if (label == nullptr)
        return E_POINTER;
    host::wstring text;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        const PortConfig* found = FindPort(handle);
        if (found == nullptr)
            return E_INVALIDARG;
        text = reg::Widen(found->label);
    }
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    *label = copy;
    return Leave(SelectorMethod::GetPortLabelBstrFromHandle, S_OK);
}

HRESULT PortSelector::GetPortLabelFromHandle(LONG handle, LONG* length, unsigned char** label) {
    if (HRESULT hr = Enter(SelectorMethod::GetPortLabelFromHandle); FAILED(hr))
        return hr;
    if (length == nullptr || label == nullptr)
        return E_POINTER;
    std::string text;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        const PortConfig* found = FindPort(handle);
        if (found == nullptr)
            return E_INVALIDARG;
        text = found->label;
    }
    void* block = CoTaskMemAlloc(text.size() + 1);
    if (block == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(block, text.c_str(), text.size() + 1);
    *length = static_cast<LONG>(text.size());
    *label = static_cast<unsigned char*>(block);
    return Leave(SelectorMethod::GetPortLabelFromHandle, S_OK);
}

HRESULT PortSelector::SetPortMapping(LONG length, const WCHAR* mapping) {
    if (HRESULT hr = Enter(SelectorMethod::SetPortMapping); FAILED(hr))
        return hr;
    if (length < 0 || (length > 0 && mapping == nullptr))
        return E_INVALIDARG;
    host::wstring text(mapping != nullptr ? mapping : OLESTR(""), static_cast<std::size_t>(length));
    std::vector<LONG> numbers;
    bool parsed = reg::ParseLongs(text.data(), text.size(), numbers);
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_LastMapping = text;
        m_LastMappingLength = length;
        if (!parsed || numbers.size() % 2 != 0)
            return E_INVALIDARG;
        m_Config.mapping.clear();
        for (std::size_t i = 0; i < numbers.size(); i += 2)
            m_Config.mapping.emplace_back(numbers[i], numbers[i + 1]);
    }
    m_Events.Fire([](IIntPortSelectorEvents* sink) { sink->OnPortMappingChanged(); });
    return Leave(SelectorMethod::SetPortMapping, S_OK);
}

HRESULT PortSelector::GetCorrespondingPorts(LONG count, const LONG* ports, LONG* correspondingCount,
                                            LONG** correspondingPorts) {
    if (HRESULT hr = Enter(SelectorMethod::GetCorrespondingPorts); FAILED(hr))
        return hr;
    if (correspondingCount == nullptr || correspondingPorts == nullptr)
        return E_POINTER;
    if (count < 0 || (count > 0 && ports == nullptr))
        return E_INVALIDARG;
    std::vector<LONG> answer;
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        for (LONG i = 0; i < count; ++i) {
            auto found = std::find_if(m_Config.mapping.begin(), m_Config.mapping.end(),
                                      [&](const auto& pair) { return pair.first == ports[i]; });
            if (found != m_Config.mapping.end()) {
                answer.push_back(found->second);
            } else {
                answer.push_back(ports[i]);
                hr = S_FALSE;
            }
        }
    }
    LONG* block = TaskArray(answer);
    if (block == nullptr)
        return E_OUTOFMEMORY;
    *correspondingCount = static_cast<LONG>(answer.size());
    *correspondingPorts = block;
    return Leave(SelectorMethod::GetCorrespondingPorts, hr);
}

HRESULT PortSelector::GetReplacedPort(LONG port, LONG* replacedPort) {
    if (HRESULT hr = Enter(SelectorMethod::GetReplacedPort); FAILED(hr))
        return hr;
    if (replacedPort == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    if (FindPort(port) == nullptr)
        return E_INVALIDARG;
    auto found = std::find_if(m_Config.mapping.begin(), m_Config.mapping.end(),
                              [port](const auto& pair) { return pair.second == port; });
    if (found == m_Config.mapping.end()) {
        *replacedPort = 0;
        return S_FALSE;
    }
    *replacedPort = found->first;
    return Leave(SelectorMethod::GetReplacedPort, S_OK);
}

HRESULT PortSelector::SetConfigFileReadOnlyMode(int mode) {
    if (HRESULT hr = Enter(SelectorMethod::SetConfigFileReadOnlyMode); FAILED(hr))
        return hr;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Config.configReadOnly = mode;
    }
    m_GuardEvents.Fire(
        [mode](IIntPortSelectorGuardEvents* sink) { sink->OnConfigFileReadOnlyChanged(mode); });
    return Leave(SelectorMethod::SetConfigFileReadOnlyMode, S_OK);
}

HRESULT PortSelector::GetSavedPorts(LONG* count, LONG** ports) {
    if (HRESULT hr = Enter(SelectorMethod::GetSavedPorts); FAILED(hr))
        return hr;
    if (count == nullptr || ports == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    LONG* block = TaskArray(m_Config.savedPorts);
    if (block == nullptr)
        return E_OUTOFMEMORY;
    *count = static_cast<LONG>(m_Config.savedPorts.size());
    *ports = block;
    return Leave(SelectorMethod::GetSavedPorts, S_OK);
}

HRESULT PortSelector::ListSavedPortInfo(EListSavedInfoType type, LONG* count, LONG* width,
                                        WCHAR** entries) {
    if (HRESULT hr = Enter(SelectorMethod::ListSavedPortInfo); FAILED(hr))
        return hr;
    if (count == nullptr || width == nullptr || entries == nullptr)
        return E_POINTER;
    if (!KnownSavedInfoType(type))
        return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(m_Lock);
    static const std::vector<std::pair<host::wstring, host::wstring>> none;
    auto found = m_Config.savedInfo.find(type);
    const auto& items = found != m_Config.savedInfo.end() ? found->second : none;
    std::size_t slot = 1;
    for (const auto& item : items)
        slot = std::max(slot, item.first.size() + 1);
    if (m_Config.savedInfoWidth > 0)
        slot = std::max(slot, static_cast<std::size_t>(m_Config.savedInfoWidth));
    std::size_t units = slot * items.size();
    WCHAR* block = static_cast<WCHAR*>(CoTaskMemAlloc(units * sizeof(WCHAR)));
    if (block == nullptr)
        return E_OUTOFMEMORY;
    std::fill(block, block + units, WCHAR(0));
    for (std::size_t i = 0; i < items.size(); ++i)
        std::copy(items[i].first.begin(), items[i].first.end(), block + i * slot);
    *count = static_cast<LONG>(items.size());
    *width = static_cast<LONG>(slot);
    *entries = block;
    return Leave(SelectorMethod::ListSavedPortInfo, S_OK);
}

HRESULT PortSelector::GetSavedPortInfo(EListSavedInfoType type, LONG keyLength, const WCHAR* key,
                                       LONG* valueLength, WCHAR** value) {
    if (HRESULT hr = Enter(SelectorMethod::GetSavedPortInfo); FAILED(hr))
        return hr;
    if (valueLength == nullptr || value == nullptr)
        return E_POINTER;
    if (keyLength < 1 || key == nullptr || !KnownSavedInfoType(type))
        return E_INVALIDARG;
    host::wstring received(key, static_cast<std::size_t>(keyLength));
    // The key ends at its terminator, which the length counts.
    host::wstring text = received.substr(0, std::min(received.find(WCHAR(0)), received.size()));
    host::wstring answer;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_LastKey = received;
        m_LastKeyLength = keyLength;
        auto found = m_Config.savedInfo.find(type);
        if (found == m_Config.savedInfo.end())
            return TESTER_E_NOT_FOUND;
        auto item = std::find_if(found->second.begin(), found->second.end(),
                                 [&](const auto& pair) { return pair.first == text; });
        if (item == found->second.end())
            return TESTER_E_NOT_FOUND;
        answer = item->second;
    }
    WCHAR* block = TaskString(answer);
    if (block == nullptr)
        return E_OUTOFMEMORY;
    *valueLength = static_cast<LONG>(answer.size());
    *value = block;
    return Leave(SelectorMethod::GetSavedPortInfo, S_OK);
}

// ---- IConnectionPointContainer --------------------------------------------------------

HRESULT PortSelector::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return host::NoEnumConnectionPoints(ppEnum);
}

HRESULT PortSelector::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    return host::FindConnectionPointIn(riid, ppCP, {&m_Events, &m_GuardEvents});
}

// ---- Configuration from code ---------------------------------------------------------

HRESULT PortSelector::Configure(PortSelectorConfig config) {
    if (!ValidPorts(config.ports))
        return E_INVALIDARG;
    std::map<LONG, host::ComPtr<IUnknown>> dropped;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Config = std::move(config);
        m_Holders.clear();
        dropped.swap(m_PortObjects);
    }
    return S_OK;  // `dropped` releases the port objects outside the lock
}

PortSelectorConfig PortSelector::Configuration() const {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Config;
}

HRESULT PortSelector::AddPort(const PortConfig& port) {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (port.handle == 0 || FindPort(port.handle) != nullptr)
            return E_INVALIDARG;
        m_Config.ports.push_back(port);
    }
    LONG handle = port.handle;
    m_Events.Fire([handle](IIntPortSelectorEvents* sink) { sink->OnPortAdded(handle); });
    return S_OK;
}

HRESULT PortSelector::RemovePort(LONG handle) {
    host::ComPtr<IUnknown> object;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        auto found =
            std::find_if(m_Config.ports.begin(), m_Config.ports.end(),
                         [handle](const PortConfig& port) { return port.handle == handle; });
        if (found == m_Config.ports.end())
            return E_INVALIDARG;
        m_Config.ports.erase(found);
        m_Holders.erase(handle);
        auto item = m_PortObjects.find(handle);
        if (item != m_PortObjects.end()) {
            object = std::move(item->second);
            m_PortObjects.erase(item);
        }
    }
    object.reset();
    m_Events.Fire([handle](IIntPortSelectorEvents* sink) { sink->OnPortRemoved(handle); });
    return S_OK;
}

void PortSelector::SetPortMode(EPiPortMode mode) {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Config.mode = mode;
    }
    m_Events.Fire([mode](IIntPortSelectorEvents* sink) { sink->OnPortModeChanged(mode); });
}

HRESULT PortSelector::ReservePort(LONG port, LONG session) {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (FindPort(port) == nullptr)
            return E_INVALIDARG;
        m_Holders[port] = session;
    }
    m_GuardEvents.Fire([port, session](IIntPortSelectorGuardEvents* sink) {
        sink->OnPortReserved(port, session);
    });
    return S_OK;
}

HRESULT PortSelector::ReleasePort(LONG port) {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (m_Holders.erase(port) == 0)
            return E_INVALIDARG;
    }
    m_GuardEvents.Fire([port](IIntPortSelectorGuardEvents* sink) { sink->OnPortReleased(port); });
    return S_OK;
}

LONG PortSelector::PortHolder(LONG port) const {
    std::lock_guard<std::mutex> hold(m_Lock);
    auto found = m_Holders.find(port);
    return found != m_Holders.end() ? found->second : 0;
}

HRESULT PortSelector::SetPortObject(LONG port, IUnknown* object) {
    host::ComPtr<IUnknown> previous;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (FindPort(port) == nullptr)
            return E_INVALIDARG;
        host::ComPtr<IUnknown>& slot = m_PortObjects[port];
        previous = std::move(slot);
        slot = host::ComPtr<IUnknown>(object);
        if (object == nullptr)
            m_PortObjects.erase(port);
    }
    return S_OK;  // `previous` is released outside the lock
}

// ---- Registry ----------------------------------------------------------------------------

namespace {

const WCHAR* const kPortsKey = OLESTR("Ports");
const WCHAR* const kSavedInfoKey = OLESTR("SavedInfo");

host::wstring Join(const host::wstring& path, const host::wstring& child) {
    return path.empty() ? child : path + OLESTR("\\") + child;
}

// An optional value that is missing is no failure: its field keeps its default.
LSTATUS Optional(LSTATUS status) {
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LSTATUS ReadPort(HKEY key, PortConfig& port) {
    LONG flag = 0;
    host::wstring label;
    LSTATUS status = reg::ReadLong(key, OLESTR("Handle"), port.handle);
    if (status == ERROR_SUCCESS)
        status = Optional(reg::ReadLong(key, OLESTR("Number"), port.number));
    if (status == ERROR_SUCCESS)
        status = Optional(reg::ReadString(key, OLESTR("Label"), label));
    port.label = reg::Narrow(label);
    if (status == ERROR_SUCCESS)
        status = Optional(reg::ReadString(key, OLESTR("Name"), port.name));
    if (status == ERROR_SUCCESS)
        status = Optional(reg::ReadLong(key, OLESTR("Group"), port.group));
    if (status == ERROR_SUCCESS)
        status = Optional(reg::ReadLong(key, OLESTR("Module"), port.module));
    if (status == ERROR_SUCCESS)
        status = Optional(reg::ReadLong(key, OLESTR("Cpu"), port.cpu));
    if (status == ERROR_SUCCESS)
        status = Optional(reg::ReadLong(key, OLESTR("Type"), port.portType));
    if (status == ERROR_SUCCESS &&
        (status = Optional(reg::ReadLong(key, OLESTR("Dummy"), flag))) == ERROR_SUCCESS)
        port.dummy = flag != 0;
    flag = 0;
    if (status == ERROR_SUCCESS &&
        (status = Optional(reg::ReadLong(key, OLESTR("Synchronized"), flag))) == ERROR_SUCCESS)
        port.synchronized = flag != 0;
    if (status == ERROR_SUCCESS)
        status = Optional(reg::ReadLong(key, OLESTR("Slave"), port.slave));
    LONG value = static_cast<LONG>(port.slaveAddress);
    if (status == ERROR_SUCCESS &&
        (status = Optional(reg::ReadLong(key, OLESTR("SlaveAddress"), value))) == ERROR_SUCCESS)
        port.slaveAddress = static_cast<ULONG>(value);
    value = static_cast<LONG>(port.slavePort);
    if (status == ERROR_SUCCESS &&
        (status = Optional(reg::ReadLong(key, OLESTR("SlavePort"), value))) == ERROR_SUCCESS)
        port.slavePort = static_cast<ULONG>(value);
    value = static_cast<LONG>(port.slaveIndex);
    if (status == ERROR_SUCCESS &&
        (status = Optional(reg::ReadLong(key, OLESTR("SlaveIndex"), value))) == ERROR_SUCCESS)
        port.slaveIndex = static_cast<ULONG>(value);
    return status;
}

LSTATUS WritePort(HKEY key, const PortConfig& port) {
    LSTATUS status = ERROR_SUCCESS;
    auto put = [&](const WCHAR* name, LONG value) {
        if (status == ERROR_SUCCESS)
            status = reg::WriteLong(key, name, value);
    };
    put(OLESTR("Handle"), port.handle);
    put(OLESTR("Number"), port.number);
    put(OLESTR("Group"), port.group);
    put(OLESTR("Module"), port.module);
    put(OLESTR("Cpu"), port.cpu);
    put(OLESTR("Type"), port.portType);
    put(OLESTR("Dummy"), port.dummy ? 1 : 0);
    put(OLESTR("Synchronized"), port.synchronized ? 1 : 0);
    put(OLESTR("Slave"), port.slave);
    put(OLESTR("SlaveAddress"), static_cast<LONG>(port.slaveAddress));
    put(OLESTR("SlavePort"), static_cast<LONG>(port.slavePort));
    put(OLESTR("SlaveIndex"), static_cast<LONG>(port.slaveIndex));
    if (status == ERROR_SUCCESS)
        status = reg::WriteString(key, OLESTR("Label"), reg::Widen(port.label));
    if (status == ERROR_SUCCESS)
        status = reg::WriteString(key, OLESTR("Name"), port.name);
    return status;
}

// A blank-separated list value; missing is the empty list.
LSTATUS ReadList(HKEY key, const WCHAR* name, std::vector<LONG>& values) {
    host::wstring text;
    LSTATUS status = reg::ReadString(key, name, text);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
        return status;
    return reg::ParseLongs(text.data(), text.size(), values) ? ERROR_SUCCESS
                                                             : ERROR_INVALID_PARAMETER;
}

LSTATUS LoadConfig(HKEY root, const host::wstring& path, PortSelectorConfig& config) {
    reg::Key top;
    LSTATUS status = top.Open(root, path);
    if (status != ERROR_SUCCESS)
        return status;
    LONG value = config.mode;
    status = Optional(reg::ReadLong(top.get(), OLESTR("Mode"), value));
    config.mode = static_cast<EPiPortMode>(value);
    value = config.readyToStart ? 1 : 0;
    if (status == ERROR_SUCCESS &&
        (status = Optional(reg::ReadLong(top.get(), OLESTR("ReadyToStart"), value))) ==
            ERROR_SUCCESS)
        config.readyToStart = value != 0;
    value = config.configReadOnly;
    if (status == ERROR_SUCCESS &&
        (status = Optional(reg::ReadLong(top.get(), OLESTR("ConfigReadOnly"), value))) ==
            ERROR_SUCCESS)
        config.configReadOnly = value;
    if (status == ERROR_SUCCESS)
        status =
            Optional(reg::ReadLong(top.get(), OLESTR("SavedInfoWidth"), config.savedInfoWidth));
    if (status == ERROR_SUCCESS)
        status = ReadList(top.get(), OLESTR("Groups"), config.groups);
    if (status == ERROR_SUCCESS)
        status = ReadList(top.get(), OLESTR("SavedPorts"), config.savedPorts);
    std::vector<LONG> mapping;
    if (status == ERROR_SUCCESS)
        status = ReadList(top.get(), OLESTR("Mapping"), mapping);
    if (status != ERROR_SUCCESS)
        return status;
    if (mapping.size() % 2 != 0)
        return ERROR_INVALID_PARAMETER;
    for (std::size_t i = 0; i < mapping.size(); i += 2)
        config.mapping.emplace_back(mapping[i], mapping[i + 1]);

    std::vector<host::wstring> names;
    reg::Key ports;
    status = ports.Open(root, Join(path, kPortsKey));
    if (status == ERROR_SUCCESS)
        status = reg::SubKeys(ports.get(), names);
    else if (status == ERROR_FILE_NOT_FOUND)
        status = ERROR_SUCCESS;
    for (const host::wstring& name : names) {
        if (status != ERROR_SUCCESS)
            return status;
        reg::Key one;
        status = one.Open(ports.get(), name);
        PortConfig port;
        if (status == ERROR_SUCCESS)
            status = ReadPort(one.get(), port);
        if (status == ERROR_SUCCESS)
            config.ports.push_back(std::move(port));
    }
    if (status != ERROR_SUCCESS)
        return status;

    for (int type = SavedInfoPortLabel; type <= SavedInfoUserData; ++type) {
        reg::Key info;
        status = info.Open(root, Join(Join(path, kSavedInfoKey), reg::Number(type)));
        if (status == ERROR_FILE_NOT_FOUND)
            continue;
        if (status == ERROR_SUCCESS) {
            std::vector<std::pair<host::wstring, host::wstring>> items;
            status = reg::StringValues(info.get(), items);
            if (status == ERROR_SUCCESS && !items.empty())
                config.savedInfo[static_cast<EListSavedInfoType>(type)] = std::move(items);
        }
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

LSTATUS SaveConfig(HKEY root, const host::wstring& path, const PortSelectorConfig& config) {
    // Written afresh, so that ports and keys removed since the last save go.
    LSTATUS status = RegDeleteTreeW(root, path.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return status;
    reg::Key top;
    status = top.Create(root, path);
    if (status != ERROR_SUCCESS)
        return status;
    auto put = [&](const WCHAR* name, LONG value) {
        if (status == ERROR_SUCCESS)
            status = reg::WriteLong(top.get(), name, value);
    };
    put(OLESTR("Mode"), config.mode);
    put(OLESTR("ReadyToStart"), config.readyToStart ? 1 : 0);
    put(OLESTR("ConfigReadOnly"), config.configReadOnly);
    put(OLESTR("SavedInfoWidth"), config.savedInfoWidth);
    std::vector<LONG> mapping;
    for (const auto& pair : config.mapping) {
        mapping.push_back(pair.first);
        mapping.push_back(pair.second);
    }
    if (status == ERROR_SUCCESS)
        status = reg::WriteString(top.get(), OLESTR("Groups"), reg::JoinLongs(config.groups));
    if (status == ERROR_SUCCESS)
        status =
            reg::WriteString(top.get(), OLESTR("SavedPorts"), reg::JoinLongs(config.savedPorts));
    if (status == ERROR_SUCCESS)
        status = reg::WriteString(top.get(), OLESTR("Mapping"), reg::JoinLongs(mapping));
    for (std::size_t i = 0; i < config.ports.size() && status == ERROR_SUCCESS; ++i) {
        // Zero-padded so that the registry's name order is the list's order.
        std::string index = std::to_string(i);
        index.insert(0, index.size() < 4 ? 4 - index.size() : 0, '0');
        reg::Key one;
        status = one.Create(root, Join(Join(path, kPortsKey),
                                       OLESTR("Port") + host::wstring(index.begin(), index.end())));
        if (status == ERROR_SUCCESS)
            status = WritePort(one.get(), config.ports[i]);
    }
    for (const auto& [type, items] : config.savedInfo) {
        if (status != ERROR_SUCCESS)
            break;
        reg::Key info;
        status = info.Create(root, Join(Join(path, kSavedInfoKey), reg::Number(type)));
        for (const auto& item : items) {
            if (status != ERROR_SUCCESS)
                break;
            status = reg::WriteString(info.get(), item.first.c_str(), item.second);
        }
    }
    return status;
}

}  // namespace

HRESULT PortSelector::LoadFromRegistry(HKEY root, const host::wstring& path) {
    PortSelectorConfig config;
    config.mode = PiPortModeSingleChassis;
    LSTATUS status = LoadConfig(root, path, config);
    if (status != ERROR_SUCCESS)
        return reg::ToResult(status);
    return Configure(std::move(config));
}

HRESULT PortSelector::SaveToRegistry(HKEY root, const host::wstring& path) const {
    return reg::ToResult(SaveConfig(root, path, Configuration()));
}

}  // namespace tester
