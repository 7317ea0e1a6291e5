#include <host/store.h>

#include <sys/stat.h>
#include <cerrno>
#include <cstdlib>

namespace host {
namespace {

const char* non_empty_env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// mkdir -p: creates each missing component; an existing directory is fine.
bool make_directories(const std::string& path) {
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        std::string prefix = path.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string store_directory() {
    std::string dir;
    if (const char* home = non_empty_env("KES_HOME")) {
        dir = home;
    } else if (const char* state = non_empty_env("XDG_STATE_HOME")) {
        dir = std::string(state) + "/kes";
    } else if (const char* user = non_empty_env("HOME")) {
        dir = std::string(user) + "/.local/state/kes";
    } else {
        return std::string();
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return make_directories(dir) ? dir : std::string();
}

std::string store_path(const char* name) {
    std::string dir = store_directory();
    return dir.empty() ? dir : dir + "/" + name;
}

}  // namespace host
