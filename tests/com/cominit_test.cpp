// Entering and leaving COM: per-thread counting, the model rule, bad
// arguments, and activation on a thread outside COM.
#include "support.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using comtest::clsid;

// Whether the calling thread is in COM, seen through activation: an unknown
// class is REGDB_E_CLASSNOTREG inside COM and CO_E_NOTINITIALIZED outside.
bool InCom() {
    void* object = reinterpret_cast<void*>(0x1);
    HRESULT hr = CoCreateInstance(clsid(900), nullptr, CLSCTX_ALL, IID_IUnknown, &object);
    EXPECT_TRUE(hr == REGDB_E_CLASSNOTREG || hr == CO_E_NOTINITIALIZED) << std::hex << hr;
    EXPECT_EQ(object, nullptr);
    return hr == REGDB_E_CLASSNOTREG;
}

TEST(ComInit, EveryCallIsCountedAndExtraUninitializeIsIgnored) {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
    // Every success, S_FALSE included, needs its own CoUninitialize.
    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(InCom());
    CoUninitialize();
    EXPECT_FALSE(InCom());
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "no negative depth";
    CoUninitialize();
    EXPECT_FALSE(InCom());
}

TEST(ComInit, OtherModelIsRefusedAndNeedsNoBalance) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);  // apartment-threaded
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    CoUninitialize();
    EXPECT_TRUE(InCom()) << "the refused call added no level";
    CoUninitialize();
    EXPECT_FALSE(InCom());
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "free to choose again";
    CoUninitialize();
}

TEST(ComInit, BadArgumentsAreRefusedAndChangeNothing) {
    int reserved = 0;
    EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x1), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
    EXPECT_FALSE(InCom());
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoGetClassObject(clsid(901), CLSCTX_ALL, nullptr, IID_IClassFactory, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(clsid(901), nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
}

TEST(ComInit, ThreadsAreIndependent) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    HRESULT first = E_FAIL, second = E_FAIL;
    bool inBefore = true, inAfter = true;
    std::thread other([&] {
        inBefore = InCom();
        first = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        second = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CoUninitialize();
        CoUninitialize();
        inAfter = InCom();
    });
    other.join();
    EXPECT_FALSE(inBefore) << "a new thread is outside COM";
    EXPECT_EQ(first, S_OK) << "another thread's model does not apply";
    EXPECT_EQ(second, S_FALSE);
    EXPECT_FALSE(inAfter);
    EXPECT_TRUE(InCom()) << "the other thread's calls left this one alone";
    CoUninitialize();
}

}  // namespace
