// Symbol visibility for the simulated tester server.
#pragma once

#define TESTER_API __attribute__((visibility("default")))
