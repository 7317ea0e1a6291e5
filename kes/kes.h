// The umbrella header: every public header of kes.
//
// Including it is the simple choice for applications; components that care
// about build times include the headers of the subsystems they use.
#pragma once

// Errors, assertions and logging.
#include <kes/error/kescodes.h>
#include <kes/error/keserror.h>
#include <kes/error/kesexception.h>
#include <kes/error/keslog.h>
#include <kes/error/kestextconversion.h>

// Synchronisation.
#include <kes/sync/kescriticalsection.h>
#include <kes/sync/kesevent.h>
#include <kes/sync/keslock.h>
#include <kes/sync/kesmutex.h>
#include <kes/sync/kesrwmutex.h>
#include <kes/sync/kessemaphore.h>
#include <kes/sync/kestoken.h>

// Threads.
#include <kes/thread/kesthread.h>

// Observers and notifiers.
#include <kes/observer/kesgatednotifierb.h>
#include <kes/observer/kesnotifierb.h>
#include <kes/observer/kesobserverab.h>
#include <kes/observer/mykescallbackatom.h>
#include <kes/observer/mykescallbackelement.h>

// Values.
#include <kes/util/kesenumconverterbc.h>
#include <kes/util/kestimestamp.h>

// Automation data.
#include <kes/types/kesbstr.h>
#include <kes/types/kessafearray.h>

// The configuration registry.
#include <kes/registrar/kesenumerator.h>
#include <kes/registrar/kesinterfaceregistrar.h>
#include <kes/registrar/kesparameterregistrar.h>
#include <kes/registrar/kespluginregistrar.h>
#include <kes/registrar/kesregistrar.h>

// Application services and the tester proxies.
#include <kes/application/keseventsink.h>
#include <kes/application/keshandlebase.h>
#include <kes/application/kesipaddress.h>
#include <kes/application/kesmacaddress.h>
#include <kes/application/kesportselector.h>
#include <kes/application/kestestcontroller.h>
#include <kes/application/kestestsession.h>

// The unit-test harness.
#include <kes/harness/kestestcomponentbc.h>
#include <kes/harness/kestestpurposebc.h>
