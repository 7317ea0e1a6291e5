#include <kes/sync/keslock.h>

ILockable::ILockable() {}

ILockable::ILockable(const ILockable&) {}

ILockable& ILockable::operator=(const ILockable&) {
    return *this;
}

ILockable::~ILockable() {}

void ILockable::LockRead() const {
    LockWrite();
}

void ILockable::UnlockRead() const {
    UnlockWrite();
}

void ILockable::Lock() const {
    LockWrite();
}

void ILockable::Unlock() const {
    UnlockWrite();
}
