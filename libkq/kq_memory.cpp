// The memory the process may still use, from its address-space limit, its memory
// cgroups (v2 and v1) and the machine's physical memory.
#include "libkq/kq_memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr int64_t kNoLimit = INT64_MAX;
// v1 writes "no limit" as the largest page-aligned 63-bit value; anything this
// large limits nothing.
constexpr int64_t kUnlimited = int64_t(1) << 62;

// The first number of a file, or -1 (missing file, "max", no digits).
int64_t read_number(const std::string& path) {
    std::ifstream f(path);
    long long v = -1;
    if (!(f >> v) || v < 0) return -1;
    return v;
}

// The value of `key` in a "key value" per line file (memory.stat), or 0.
int64_t stat_value(const std::string& path, const char* key) {
    std::ifstream f(path);
    std::string k;
    long long v = 0;
    while (f >> k >> v)
        if (k == key) return v;
    return 0;
}

// Limit less working set of one group folder; kNoLimit without a limit.
int64_t group_room(const std::string& dir, int64_t limit, const char* usage_file,
                   const char* inactive_key) {
    if (limit < 0 || limit >= kUnlimited) return kNoLimit;
    const int64_t usage = read_number(dir + "/" + usage_file);
    const int64_t inactive = stat_value(dir + "/memory.stat", inactive_key);
    const int64_t working = std::max<int64_t>(usage - inactive, 0);
    return std::max<int64_t>(limit - working, 0);
}

// Resident and mapped bytes of the process (/proc/self/statm), 0 when unknown.
void own_use(int64_t& mapped, int64_t& resident) {
    mapped = resident = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return;
    long long size = 0, rss = 0;
    if (std::fscanf(f, "%lld %lld", &size, &rss) == 2) {
        const int64_t page = ::sysconf(_SC_PAGESIZE);
        mapped = size * page;
        resident = rss * page;
    }
    std::fclose(f);
}

}  // namespace

int64_t kq__cgroupRoom(const std::string& root) {
    int64_t room = kNoLimit;
    std::ifstream f(root + "/proc/self/cgroup");
    std::string line;
    while (std::getline(f, line)) {
        // "id:controllers:path"; v2 has id 0 and no controllers.
        const size_t a = line.find(':'), b = line.find(':', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        std::string path = line.substr(b + 1);
        if (path.empty() || path[0] != '/') continue;
        if (controllers.empty()) {
            // v2: every group up to the root, at the pure or the hybrid mount.
            for (const char* mount : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
                for (std::string p = path;; p = p.substr(0, std::max<size_t>(p.rfind('/'), 1))) {
                    const std::string dir = root + mount + (p == "/" ? "" : p);
                    room = std::min(room, group_room(dir, read_number(dir + "/memory.max"),
                                                     "memory.current", "inactive_file"));
                    if (p == "/") break;
                }
            }
            continue;
        }
        std::stringstream names(controllers);
        for (std::string name; std::getline(names, name, ',');) {
            if (name != "memory") continue;
            const std::string dir = root + "/sys/fs/cgroup/memory" + (path == "/" ? "" : path);
            // With a hierarchy the groups above may hold a smaller limit.
            int64_t limit = read_number(dir + "/memory.limit_in_bytes");
            const int64_t above = stat_value(dir + "/memory.stat", "hierarchical_memory_limit");
            if (above > 0 && (limit < 0 || above < limit)) limit = above;
            room = std::min(room, group_room(dir, limit, "memory.usage_in_bytes",
                                             "total_inactive_file"));
        }
    }
    return room;
}

int64_t kq_memory_room() {
    int64_t mapped = 0, resident = 0;
    own_use(mapped, resident);
    int64_t room = kq__cgroupRoom("");
    rlimit as{};
    if (::getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY &&
        as.rlim_cur < rlim_t(kUnlimited))
        room = std::min(room, std::max<int64_t>(int64_t(as.rlim_cur) - mapped, 0));
    const int64_t pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0)
        room = std::min(room, std::max<int64_t>(pages * page - resident, 0));
    return room;
}

int kq_memory_allows(int64_t bytes) {
    if (bytes < (int64_t(1) << 20)) return bytes >= 0;
    return bytes <= kq_memory_room();
}
