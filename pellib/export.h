// Symbol visibility for the class library. Everything is built hidden; the
// classes and functions that callers link against carry PEL_API.
#pragma once

#define PEL_API __attribute__((visibility("default")))
