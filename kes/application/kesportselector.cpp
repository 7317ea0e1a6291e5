#include <kes/application/kesportselector.h>

#include <host/taskalloc.h>
#include <kes/application/keseventsink.h>
#include <kes/error/keserror.h>
#include <kes/types/kesbstr.h>

#include <algorithm>
#include <cstddef>
#include <vector>

IIntPortSelector* CKesPortSelector::g_pPortSelector = nullptr;
IStream* CKesPortSelector::g_pStream = nullptr;

namespace {

// The entries of a server array that can be read: none when the block is
// missing or the count is negative.
LONG Readable(LONG count, const void* block) {
    return (block == nullptr || count < 0) ? 0 : count;
}

}  // namespace

// ---- Publication -------------------------------------------------------------------

LONG CKesPortSelector::Globalize(IIntPortSelector* pi) {
    KES_ASSERT(pi != 0);
    KES_ASSERT(g_pPortSelector == 0);
    if (pi == 0)
        return S_OK;
    // The new reference first: publishing the published pointer again must
    // not drop its last reference.
    pi->AddRef();
    IIntPortSelector* previous = g_pPortSelector;
    g_pPortSelector = pi;
    if (previous != 0)
        previous->Release();
    return S_OK;
}

LONG CKesPortSelector::Unglobalize() {
    if (g_pPortSelector != 0) {
        IIntPortSelector* published = g_pPortSelector;
        g_pPortSelector = 0;
        published->Release();
    }
    return S_OK;
}

LONG CKesPortSelector::Localize(IIntPortSelector** ppi) {
    KES_ASSERT(g_pPortSelector != 0);
    if (ppi == nullptr)
        return E_POINTER;
    if (g_pPortSelector == 0) {
        *ppi = 0;
        return E_NOINTERFACE;
    }
    *ppi = g_pPortSelector;
    (*ppi)->AddRef();
    return S_OK;
}

bool CKesPortSelector::IsPortSelectorValid() {
    return g_pPortSelector != 0;
}

// ---- Life and binding ---------------------------------------------------------------

CKesPortSelector::CKesPortSelector()
    : m_pPortSelector(0), m_ClientCookie(0), m_ClientCookieGuardEvents(0) {}

CKesPortSelector::~CKesPortSelector() {
    KES_ASSERT(m_ClientCookie == 0);
    KES_ASSERT(m_ClientCookieGuardEvents == 0);
    if (m_pPortSelector != 0) {
        m_pPortSelector->Release();
        m_pPortSelector = 0;
    }
}

LONG CKesPortSelector::Initialize() {
    HRESULT hr = Localize(&m_pPortSelector);
    KES_ASSERT(SUCCEEDED(hr));
    KES_ASSERT(m_pPortSelector != 0);
    if (FAILED(hr))
        m_pPortSelector = 0;
    return hr;
}

LONG CKesPortSelector::Bind() {
    HRESULT hr = S_OK;
    if (m_pPortSelector == 0)
        hr = Initialize();
    KES_ASSERT(m_pPortSelector != 0);
    if (m_pPortSelector == 0)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    return S_OK;
}

// ---- Forwarding -------------------------------------------------------------------------

LONG CKesPortSelector::ListPorts(LONG* pCount, LONG** ppPorts) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (pCount == nullptr || ppPorts == nullptr)
        return E_POINTER;
    *pCount = 0;
    *ppPorts = nullptr;
    return m_pPortSelector->ListPorts(pCount, ppPorts);
}

LONG CKesPortSelector::ListSynchronizedPorts(LONG* pCount, LONG** ppPorts) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (pCount == nullptr || ppPorts == nullptr)
        return E_POINTER;
    *pCount = 0;
    *ppPorts = nullptr;
    return m_pPortSelector->ListSynchronizedPorts(pCount, ppPorts);
}

LONG CKesPortSelector::ListPortsInGroup(LONG group, LONG* pCount, LONG** ppPorts) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (pCount == nullptr || ppPorts == nullptr)
        return E_POINTER;
    *pCount = 0;
    *ppPorts = nullptr;
    return m_pPortSelector->ListPortsInGroup(group, pCount, ppPorts);
}

LONG CKesPortSelector::ListPortsInModule(LONG module, LONG* pCount, LONG** ppPorts) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (pCount == nullptr || ppPorts == nullptr)
        return E_POINTER;
    *pCount = 0;
    *ppPorts = nullptr;
    return m_pPortSelector->ListPortsInModule(module, pCount, ppPorts);
}

LONG CKesPortSelector::ListPortsOnSameCpu(LONG port, LONG* pCount, LONG** ppPorts) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (pCount == nullptr || ppPorts == nullptr)
        return E_POINTER;
    *pCount = 0;
    *ppPorts = nullptr;
    return m_pPortSelector->ListPortsOnSameCpu(port, pCount, ppPorts);
}

LONG CKesPortSelector::GetPortInterface(LONG port, const GUID& theInterface, void** ppInterface) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (ppInterface == nullptr)
        return E_POINTER;
    *ppInterface = nullptr;
    return m_pPortSelector->GetPortInterface(port, theInterface, ppInterface);
}

LONG CKesPortSelector::GetPortNumber(LONG port, LONG* pNumber) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (pNumber == nullptr)
        return E_POINTER;
    *pNumber = 0;
    return m_pPortSelector->GetPortNumber(port, pNumber);
}

LONG CKesPortSelector::GetPortDetails(LONG port, LONG* pModule, LONG* pPortType) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (pModule == nullptr || pPortType == nullptr)
        return E_POINTER;
    *pModule = 0;
    *pPortType = 0;
    return m_pPortSelector->GetPortDetails(port, pModule, pPortType);
}

LONG CKesPortSelector::GetPortLabelFromHandle(LONG handle, LONG* pLength, unsigned char** ppLabel) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (ppLabel == nullptr)
        return E_POINTER;
    *ppLabel = nullptr;
    return m_pPortSelector->GetPortLabelFromHandle(handle, pLength, ppLabel);
}

LONG CKesPortSelector::GetPortMode(EPiPortMode* pMode) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pPortSelector->GetPortMode(pMode);
}

LONG CKesPortSelector::GetPortName(LONG port, LONG style, unsigned short** ppName) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pPortSelector->GetPortName(port, style, ppName);
}

LONG CKesPortSelector::GetPortLabelBstrFromHandle(LONG handle, BSTR* pLabel) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pPortSelector->GetPortLabelBstrFromHandle(handle, pLabel);
}

LONG CKesPortSelector::GetSlaveAddress(LONG slave, LONG port, ULONG* pIpAddress, ULONG* pPortNumber,
                                       ULONG* pPortIndex) {
    KES_ASSERT(pIpAddress != 0);
    KES_ASSERT(pPortNumber != 0);
    KES_ASSERT(pPortIndex != 0);
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pPortSelector->GetSlaveAddress(slave, port, pIpAddress, pPortNumber, pPortIndex);
}

LONG CKesPortSelector::ReadyToStart() {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pPortSelector->ReadyToStart();
}

LONG CKesPortSelector::SetConfigFileReadOnlyMode(int mode) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pPortSelector->SetConfigFileReadOnlyMode(mode);
}

// ---- Queries ------------------------------------------------------------------------------

bool CKesPortSelector::IsValidPort(LONG port) {
    if (FAILED(Bind()))
        return false;
    LONG flag = 0;
    HRESULT hr = m_pPortSelector->IsValidPort(port, &flag);
    return SUCCEEDED(hr) && flag != 0;
}

bool CKesPortSelector::IsDummyPort(LONG port) {
    if (FAILED(Bind()))
        return false;
    LONG flag = 0;
    HRESULT hr = m_pPortSelector->IsDummyPort(port, &flag);
    return SUCCEEDED(hr) && flag != 0;
}

bool CKesPortSelector::IsValidGroup(LONG group) {
    if (FAILED(Bind()))
        return false;
    LONG flag = 0;
    HRESULT hr = m_pPortSelector->IsValidGroup(group, &flag);
    return SUCCEEDED(hr) && flag != 0;
}

// ---- Converting -----------------------------------------------------------------------------

LONG CKesPortSelector::AddPortsFromGroup(LONG group, std::list<LONG>& ports) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    LONG count = 0;
    LONG* array = nullptr;
    HRESULT hr = m_pPortSelector->ListPortsInGroup(group, &count, &array);
    if (FAILED(hr)) {
        CoTaskMemFree(array);  // a server that failed should hand out nothing
        return KesRaiseError(KES_E_GROUP_PORTS_UNAVAILABLE, KesMakeErrorStream(), KES_SOURCE_FILE,
                             __LINE__);
    }
    count = Readable(count, array);
    for (LONG i = 0; i < count; ++i) {
        if (std::find(ports.begin(), ports.end(), array[i]) != ports.end()) {
            CoTaskMemFree(array);
            return KesRaiseError(KES_E_PORT_ALREADY_LISTED, KesMakeErrorStream(), KES_SOURCE_FILE,
                                 __LINE__);
        }
        ports.push_back(array[i]);
    }
    CoTaskMemFree(array);
    return 0;
}

LONG CKesPortSelector::GetSavedPorts(std::list<LONG>& ports) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    LONG count = 0;
    LONG* array = nullptr;
    HRESULT hr = m_pPortSelector->GetSavedPorts(&count, &array);
    if (FAILED(hr)) {
        CoTaskMemFree(array);
        return hr;
    }
    count = Readable(count, array);
    ports.insert(ports.end(), array, array + count);
    CoTaskMemFree(array);
    return hr;
}

LONG CKesPortSelector::ListSavedPortInfo(EListSavedInfoType type, std::list<BSTR>& list) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    LONG count = 0;
    LONG width = 0;
    unsigned short* buffer = nullptr;
    HRESULT hr = m_pPortSelector->ListSavedPortInfo(type, &count, &width, &buffer);
    if (FAILED(hr)) {
        CoTaskMemFree(buffer);
        return hr;
    }
    count = Readable(count, buffer);
    std::size_t slot = width > 0 ? static_cast<std::size_t>(width) : 0;
    for (LONG i = 0; i < count; ++i) {
        const unsigned short* entry = buffer + static_cast<std::size_t>(i) * slot;
        // The text ends at its terminator, and never runs past its slot.
        std::size_t length = 0;
        while (length < slot && entry[length] != 0)
            ++length;
        CKesBstr text(static_cast<int>(length), entry);
        list.push_back(text.ToBSTR());
    }
    CoTaskMemFree(buffer);
    return hr;
}

LONG CKesPortSelector::GetSavedPortInfo(EListSavedInfoType type, const unsigned short* key,
                                        BSTR* value) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    if (value == nullptr)
        return E_POINTER;
    CKesBstr keyCopy(key);
    host::wstring keyText = keyCopy.ToString();
    LONG valueLength = 0;
    unsigned short* valueText = nullptr;
    HRESULT hr = m_pPortSelector->GetSavedPortInfo(type, static_cast<LONG>(keyText.length() + 1),
                                                   keyText.c_str(), &valueLength, &valueText);
    if (FAILED(hr)) {
        CoTaskMemFree(valueText);
        return hr;
    }
    CKesBstr answer(valueText);
    *value = answer.ToBSTR();
    CoTaskMemFree(valueText);
    return hr;
}

LONG CKesPortSelector::SetPortMapping(const std::list<host::wstring>& mapping) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    host::wstring text;
    for (const host::wstring& entry : mapping) {
        text += entry;
        text.push_back(0x0020);
    }
    // The length up to the first NUL: an entry with an embedded NUL ends the
    // text there, as the server reads it.
    std::size_t length = 0;
    while (length < text.size() && text[length] != 0)
        ++length;
    return m_pPortSelector->SetPortMapping(static_cast<LONG>(length), text.c_str());
}

LONG CKesPortSelector::GetCorrespondingPorts(const std::list<LONG>& originalPorts,
                                             std::list<LONG>& correspondingPorts) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    std::vector<LONG> given(originalPorts.begin(), originalPorts.end());
    LONG count = 0;
    LONG* array = nullptr;
    HRESULT hr = m_pPortSelector->GetCorrespondingPorts(static_cast<LONG>(given.size()),
                                                        given.data(), &count, &array);
    if (FAILED(hr)) {
        CoTaskMemFree(array);
        return hr;
    }
    count = Readable(count, array);
    correspondingPorts.insert(correspondingPorts.end(), array, array + count);
    KES_ASSERT(originalPorts.size() == correspondingPorts.size());
    CoTaskMemFree(array);
    return hr;
}

LONG CKesPortSelector::GetCorrespondingPort(LONG port, LONG& correspondingPort) {
    std::list<LONG> originalList(1, port);
    std::list<LONG> correspondingList;
    HRESULT hr = GetCorrespondingPorts(originalList, correspondingList);
    if (FAILED(hr))
        return hr;
    KES_ASSERT(correspondingList.size() == 1);
    if (!correspondingList.empty())
        correspondingPort = correspondingList.front();
    return 0;
}

LONG CKesPortSelector::GetReplacedPort(const LONG& port, LONG& replacedPort) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    LONG replaced = 0;
    HRESULT hr = m_pPortSelector->GetReplacedPort(port, &replaced);
    replacedPort = replaced;
    return hr;
}

// ---- Subscriptions ---------------------------------------------------------------------------

LONG CKesPortSelector::Advise(IIntPortSelectorEvents* client) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    KES_ASSERT(client != NULL);
    DWORD cookie = 0;
    HRESULT hr = ConnectEventSink(m_pPortSelector, client, IID_IIntPortSelectorEvents, &cookie);
    if (hr != 0)
        return hr;
    m_ClientCookie = cookie;
    return 0;
}

LONG CKesPortSelector::Unadvise() {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    KES_ASSERT(m_ClientCookie != 0);
    HRESULT hr = DisconnectEventSink(m_pPortSelector, IID_IIntPortSelectorEvents, m_ClientCookie);
    if (hr != 0)
        return hr;
    m_ClientCookie = 0;
    return 0;
}

LONG CKesPortSelector::AdviseOnGuardEvents(IIntPortSelectorGuardEvents* client) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    KES_ASSERT(client != NULL);
    DWORD cookie = 0;
    HRESULT hr =
        ConnectEventSink(m_pPortSelector, client, IID_IIntPortSelectorGuardEvents, &cookie);
    if (hr != 0)
        return hr;
    m_ClientCookieGuardEvents = cookie;
    return 0;
}

LONG CKesPortSelector::UnadviseOnGuardEvents() {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    KES_ASSERT(m_ClientCookieGuardEvents != 0);
    HRESULT hr = DisconnectEventSink(m_pPortSelector, IID_IIntPortSelectorGuardEvents,
                                     m_ClientCookieGuardEvents);
    if (hr != 0)
        return hr;
    m_ClientCookieGuardEvents = 0;
    return 0;
}

// ---- Printing ----------------------------------------------------------------------------------

std::ostream& operator<<(std::ostream& stream, const std::list<LONG>& ports) {
    bool first = true;
    for (LONG port : ports) {
        if (!first)
            stream << ' ';
        stream << port;
        first = false;
    }
    return stream;
}
