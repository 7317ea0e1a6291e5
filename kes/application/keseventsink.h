// Subscribing a client's event sink to a tester server object's events, the
// COM connection-point way. The proxies (CKesPortSelector, CKesTestController,
// CKesTestSession) use these; so may any caller that talks to a server object
// directly.
//
// Neither function raises anything: each returns the code of the last call
// it made, stopping at the first failure of QueryInterface (for
// IConnectionPointContainer), FindConnectionPoint, Advise or Unadvise, with
// the code unchanged. Every interface obtained on the way is released on
// every path. A null server object gives E_POINTER without any call.
//
// Thread safety: whatever the server object allows; the functions keep no
// state.
#pragma once

#include <host/com.h>
#include <host/types.h>
#include <kes/export.h>

// Connects `sink` to the connection point of `events` on `server`; the
// server writes the subscription cookie to `*pCookie`.
KES_API LONG ConnectEventSink(IUnknown* server, IUnknown* sink, const IID& events, DWORD* pCookie);

// Ends the subscription `cookie` at the connection point of `events` on
// `server`.
KES_API LONG DisconnectEventSink(IUnknown* server, const IID& events, DWORD cookie);
