// The stream slot through which a PelConsole tells pelTraceExpression which
// trace pattern it writes for. Internal to pellib.
#pragma once

namespace pel {

// The index, from std::ios_base::xalloc, of the pword slot that holds a
// `const PelTrace_*` (or null) on a console's stream.
int pattern_slot();

}  // namespace pel
