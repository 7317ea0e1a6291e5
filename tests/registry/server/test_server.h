// The interface and class identifiers of the test in-process server, shared
// by the module and the tests that load it.
#pragma once

#include <host/comptr.h>

// Answers a number counted across every instance the module has made, so a
// test can tell that two activations reached the same loaded module.
struct ITestProbe : IUnknown {
    virtual LONG Next() = 0;

  protected:
    ~ITestProbe() = default;
};
// {5E0A3C41-7B2D-4F19-A8E6-0C9D1B2A3F41}
DEFINE_GUID(IID_ITestProbe, 0x5E0A3C41, 0x7B2D, 0x4F19, 0xA8, 0xE6, 0x0C, 0x9D, 0x1B, 0x2A, 0x3F,
            0x41);
HOST_INTERFACE_ID(ITestProbe, IID_ITestProbe);

// The classes the module serves.
// {5E0A3C42-7B2D-4F19-A8E6-0C9D1B2A3F42}
DEFINE_GUID(CLSID_TestProbe, 0x5E0A3C42, 0x7B2D, 0x4F19, 0xA8, 0xE6, 0x0C, 0x9D, 0x1B, 0x2A, 0x3F,
            0x42);
// {5E0A3C43-7B2D-4F19-A8E6-0C9D1B2A3F43}
DEFINE_GUID(CLSID_TestProbeByHand, 0x5E0A3C43, 0x7B2D, 0x4F19, 0xA8, 0xE6, 0x0C, 0x9D, 0x1B, 0x2A,
            0x3F, 0x43);
