// Symbol visibility for kes. Everything is built hidden; the classes,
// functions and data of the library's interface carry KES_API.
#pragma once

#define KES_API __attribute__((visibility("default")))
