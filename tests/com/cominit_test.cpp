// Entering and leaving COM: per-thread counting, the model rule, bad
// arguments, and activation on a thread outside COM.
#include "support.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using comtest::clsid;

// True when the calling thread is in COM, seen through activation: an unknown
// class is REGDB_E_CLASSNOTREG inside COM and CO_E_NOTINITIALIZED outside.
bool InCom() {
    void* object = nullptr;
    HRESULT hr = CoCreateInstance(clsid(900), nullptr, CLSCTX_ALL, IID_IUnknown, &object);
    EXPECT_TRUE(hr == REGDB_E_CLASSNOTREG || hr == CO_E_NOTINITIALIZED) << std::hex << hr;
    return hr == REGDB_E_CLASSNOTREG;
}

TEST(ComInit, FirstCallIsOkAndRepeatsWithTheSameModelAreFalse) {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
    // Every success, S_FALSE included, needs its own CoUninitialize.
    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(InCom());
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
    // Having left, the thread may choose the other model.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

TEST(ComInit, ExtraUninitializeIsIgnored) {
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "no negative depth";
    CoUninitialize();
    EXPECT_FALSE(InCom());
}

TEST(ComInit, BadArgumentsAreRefusedAndChangeNothing) {
    int reserved = 0;
    EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x1), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
    EXPECT_FALSE(InCom());
}

TEST(ComInit, ThreadsAreIndependent) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    HRESULT otherFirst = E_FAIL, otherSecond = E_FAIL;
    bool otherInComBefore = true, otherInComAfter = true;
    std::thread other([&] {
        otherInComBefore = InCom();
        otherFirst = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        otherSecond = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CoUninitialize();
        CoUninitialize();
        otherInComAfter = InCom();
    });
    other.join();
    EXPECT_FALSE(otherInComBefore) << "a new thread is outside COM";
    EXPECT_EQ(otherFirst, S_OK) << "another thread's model does not apply";
    EXPECT_EQ(otherSecond, S_FALSE);
    EXPECT_FALSE(otherInComAfter);
    EXPECT_TRUE(InCom()) << "the other thread's calls left this one alone";
    CoUninitialize();
}

TEST(ComInit, ActivationOutsideComFailsWithNullOutput) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(clsid(901), nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoGetClassObject(clsid(901), CLSCTX_ALL, nullptr, IID_IClassFactory, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(clsid(901), nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
}

}  // namespace
