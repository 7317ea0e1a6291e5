// What the library does when the loader attaches it to a process. It keeps no
// per-thread state, so it asks the host not to report thread starts and ends
// to it; nothing else runs at attach or detach (static objects aside).
#include <host/process.h>

#include <dlfcn.h>

namespace {

__attribute__((constructor)) void KesProcessAttach() {
    // The module handle is the library's load address, as on the original host.
    Dl_info self{};
    HANDLE module = nullptr;
    if (dladdr(reinterpret_cast<void*>(&KesProcessAttach), &self) != 0)
        module = self.dli_fbase;
    ::DisableThreadLibraryCalls(module);
}

}  // namespace
