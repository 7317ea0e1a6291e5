#include <kes/observer/kesgatednotifierb.h>

template class CKesGatedNotifier<CKesNothing>;

CKesGatedNotifierB::CKesGatedNotifierB() : m_DisableCount(0) {}

CKesGatedNotifierB::~CKesGatedNotifierB() {}

void CKesGatedNotifierB::disable() {
    CKesLock lock(&myLock);
    if (m_DisableCount.fetch_add(1, std::memory_order_relaxed) == 0)
        onDisable();
}

void CKesGatedNotifierB::enable() {
    KES_ASSERT(m_DisableCount > 0);
    CKesLock lock(&myLock);
    // Checked again under the lock: an enable on an open gate, reported
    // above, must not drive the count below 0 and close the gate for good.
    const LONG count = m_DisableCount.load(std::memory_order_relaxed);
    if (count <= 0)
        return;
    m_DisableCount.store(count - 1, std::memory_order_relaxed);
    if (count == 1)
        onEnable();
}

bool CKesGatedNotifierB::isEnabled() const {
    return m_DisableCount.load(std::memory_order_relaxed) == 0;
}

void CKesGatedNotifierB::onDisable() {}

void CKesGatedNotifierB::onEnable() {}
