// How much more memory the process may use: the least of what its address-space
// limit, its memory cgroups and the machine's physical memory leave. Programs ask
// before allocating data-sized blocks, so that a picture too large for the memory
// really available is refused with their own message rather than ended by the
// kernel's out-of-memory kill.
#pragma once

#include <cstdint>
#include <string>

// Bytes the process may still allocate (INT64_MAX when nothing limits it).
int64_t kq_memory_room();
// 1 when `bytes` fit in kq_memory_room(); blocks below a mebibyte are not checked.
int kq_memory_allows(int64_t bytes);

// The room left under the memory cgroups of the process, with the files read below
// `root` ("" for the running system): cgroup v2's memory.max of its group and of
// each group above it, v1's memory.limit_in_bytes, each less that group's working
// set (usage less inactive file pages). INT64_MAX when no limit applies.
int64_t kq__cgroupRoom(const std::string& root);
