#pragma once
// How much memory one request may ask for: the least of the machine's physical
// memory, the process's soft address-space limit (RLIMIT_AS) and the memory
// limit of its control group (cgroup v2 memory.max, v1 memory.limit_in_bytes,
// of its own group and every ancestor). A request above it cannot succeed, so
// it is refused before any work instead of failing after much of it, or
// getting the process killed.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vexa {

// The budget in bytes; UINT64_MAX when nothing limits it.
std::uint64_t memory_budget_bytes();

// Reads a whole file, or nothing when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;

// The tightest cgroup memory limit that applies to this process, found through
// /proc/self/cgroup and /proc/self/mountinfo as `read` returns them; nothing
// when no limit is set or the files are missing.
std::optional<std::uint64_t> cgroup_memory_limit(const FileReader& read);

}  // namespace vexa
