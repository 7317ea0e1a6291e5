// Symbol visibility for the host library. Everything is built hidden; the
// entry points that callers link against carry HOST_API.
#pragma once

#define HOST_API __attribute__((visibility("default")))
