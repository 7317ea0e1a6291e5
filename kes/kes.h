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
#include <kes/sync/kessemaphore.h>

// Values.
#include <kes/util/kestimestamp.h>

// Application services.
#include <kes/application/kestestsession.h>

// The unit-test harness.
#include <kes/harness/kestestcomponentbc.h>
#include <kes/harness/kestestpurposebc.h>
