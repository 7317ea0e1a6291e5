// ComObject's IUnknown rules and ComPtr's reference ownership.
#include "support.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using comtest::FooBar;
using comtest::g_liveObjects;
using host::ComPtr;

TEST(ComObjectQuery, AnswersItsInterfacesWithOneIdentityAndRefusesOthers) {
    auto object = host::make_com<FooBar>();
    IFoo* foo = object.get();
    IBar* bar = object.get();
    ASSERT_NE(static_cast<void*>(foo), static_cast<void*>(bar)) << "distinct sub-objects";
    void* fromFoo = nullptr;
    void* fromBar = nullptr;
    ASSERT_EQ(foo->QueryInterface(IID_IUnknown, &fromFoo), S_OK);
    ASSERT_EQ(bar->QueryInterface(IID_IUnknown, &fromBar), S_OK);
    EXPECT_EQ(fromFoo, fromBar);
    EXPECT_EQ(fromFoo, object->identity());
    static_cast<IUnknown*>(fromFoo)->Release();
    static_cast<IUnknown*>(fromBar)->Release();
    // Listed interfaces, and IFoo which is only extended by IFoo2.
    ComPtr<IFoo2> foo2;
    ComPtr<IFoo> fooOnly;
    ComPtr<IBar> barOnly;
    ASSERT_EQ(object->QueryInterface(IID_IFoo2, foo2.put_void()), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_IFoo, fooOnly.put_void()), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_IBar, barOnly.put_void()), S_OK);
    EXPECT_EQ(foo2->Foo2() + fooOnly->Foo() * 10 + barOnly->Bar() * 100, 312);
    EXPECT_EQ(object->ref_count(), 4u);
    for (REFIID riid : {IID_INobody, IID_IClassFactory}) {
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(object->QueryInterface(riid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(object->QueryInterface(IID_IFoo, nullptr), E_POINTER);
    EXPECT_EQ(object->ref_count(), 4u);
}

TEST(ComObjectCount, ConcurrentAddRefReleaseFreesExactlyOnce) {
    for (int iteration = 0; iteration < 50; ++iteration) {
        FooBar* raw = new FooBar;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            raw->AddRef();
            threads.emplace_back([raw] {
                for (int i = 0; i < 200; ++i) {
                    raw->AddRef();
                    raw->Release();
                }
                raw->Release();  // this thread's reference
            });
        }
        raw->Release();  // the creator's reference
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_EQ(g_liveObjects, 0);
    }
}

TEST(ComPtrOwnership, CopyMoveResetAttachAndDetachKeepTheCountRight) {
    auto owner = host::make_com<FooBar>();
    FooBar* raw = owner.get();
    {
        ComPtr<FooBar> copy = owner;
        EXPECT_EQ(raw->ref_count(), 2u);
        ComPtr<FooBar> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(raw->ref_count(), 2u);
        ComPtr<FooBar> shared(raw);  // shares: adds its own reference
        EXPECT_EQ(raw->ref_count(), 3u);
        shared = moved;  // same object: no net change
        EXPECT_EQ(raw->ref_count(), 3u);
        shared = nullptr;
        EXPECT_EQ(raw->ref_count(), 2u);
        ComPtr<FooBar>& alias = moved;
        moved = alias;  // self-assignment
        EXPECT_EQ(raw->ref_count(), 2u);
    }
    EXPECT_EQ(raw->ref_count(), 1u);
    FooBar* back = owner.detach();
    EXPECT_FALSE(owner);
    EXPECT_EQ(back->ref_count(), 1u);
    owner.attach(back);
    EXPECT_EQ(back->ref_count(), 1u);
    owner.attach(new FooBar);  // the first object's reference is given back
    EXPECT_EQ(g_liveObjects, 1);
    owner.reset();
    EXPECT_EQ(g_liveObjects, 0);
}

TEST(ComPtrOwnership, PutReleasesTheOldPointerAndAsQueries) {
    auto object = host::make_com<FooBar>();
    ComPtr<IBar> bar;
    ASSERT_EQ(object->QueryInterface(IID_IBar, bar.put_void()), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_IBar, bar.put_void()), S_OK);
    EXPECT_EQ(object->ref_count(), 2u) << "filling the same ComPtr again must not leak";
    EXPECT_EQ(object->QueryInterface(IID_INobody, bar.put_void()), E_NOINTERFACE);
    EXPECT_FALSE(bar);
    EXPECT_EQ(object->ref_count(), 1u);

    bar = object.as<IBar>();
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->Bar(), 3);
    EXPECT_FALSE(bar.as<IClassFactory>());
    ComPtr<IFoo> foo = object;  // derived to interface, no query
    EXPECT_EQ(foo->Foo(), 1);
    EXPECT_EQ(object->ref_count(), 3u);
    EXPECT_FALSE(ComPtr<IFoo>().as<IBar>()) << "null stays null";
    EXPECT_TRUE(bar.as<IUnknown>() == foo.as<IUnknown>()) << "identity compares equal";
}

TEST(ClassFactoryHelper, CreatesInstancesAndRefusesAggregation) {
    auto factory = host::make_com<host::ClassFactory<FooBar>>();
    ComPtr<IBar> bar;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBar, bar.put_void()), S_OK);
    EXPECT_EQ(bar->Bar(), 3);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_INobody, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(g_liveObjects, 1) << "the refused instance is freed";
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(bar.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBar, nullptr), E_POINTER);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->lock_count(), 1);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->lock_count(), 0);
}

}  // namespace
