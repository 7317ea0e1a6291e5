// The directory that holds the host's persistent stores (registry.db,
// eventlog.db).
//
// It is `$KES_HOME` when that is set and not empty, else `$XDG_STATE_HOME/kes`,
// else `$HOME/.local/state/kes`. The environment is read at every call, so a
// test can point a process at a fresh directory by setting `KES_HOME` before
// it opens a store.
#pragma once

#include <host/export.h>

#include <string>

namespace host {

// The store directory, created (with its parents, mode 0700) when missing.
// Returns an empty string when no directory can be named or created; callers
// then treat their store as unavailable.
HOST_API std::string store_directory();

// `store_directory()` joined with `name`, or empty when there is no directory.
HOST_API std::string store_path(const char* name);

}  // namespace host
