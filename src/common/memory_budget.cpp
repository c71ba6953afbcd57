#include "common/memory_budget.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <vector>

namespace vexa {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

// A limit file holds a byte count, or "max" (v2) for none.
std::optional<std::uint64_t> parse_limit(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str() || errno != 0) return std::nullopt;
    return static_cast<std::uint64_t>(value);
}

// Where a cgroup hierarchy is mounted: the mount point and the group that is
// its root (not "/" when a container sees only its own part of the tree).
struct Mount {
    std::string root;
    std::string point;
};

// The mount of the v2 hierarchy (`v1_memory` false) or of the v1 memory
// controller, from the lines of /proc/self/mountinfo:
// "id parent dev root point options [tags] - fstype source super-options".
std::optional<Mount> find_mount(const std::string& mountinfo, bool v1_memory) {
    for (const std::string& line : split(mountinfo, '\n')) {
        const std::vector<std::string> f = split(line, ' ');
        const auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 5 || dash == f.end() || dash + 3 > f.end()) continue;
        const std::string& fstype = *(dash + 1);
        const std::string& options = *(dash + 3);
        const bool match =
            v1_memory
                ? fstype == "cgroup" && ("," + options + ",").find(",memory,") != std::string::npos
                : fstype == "cgroup2";
        if (match) return Mount{f[3], f[4]};
    }
    return std::nullopt;
}

// The least limit in `file` of the group at `path` and its ancestors up to the mount's root.
std::optional<std::uint64_t> least_limit_up_the_tree(const FileReader& read, const Mount& mount,
                                                     std::string path, const std::string& file) {
    if (mount.root != "/" && path.compare(0, mount.root.size(), mount.root) == 0)
        path = path.substr(mount.root.size());
    std::optional<std::uint64_t> least;
    for (;;) {
        const std::string dir = mount.point + (path == "/" ? "" : path);
        if (const auto text = read(dir + "/" + file)) {
            if (const auto limit = parse_limit(*text))
                least = std::min(least.value_or(kUnlimited), *limit);
        }
        if (path.empty() || path == "/") return least;
        const std::size_t slash = path.find_last_of('/');
        path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
}

}  // namespace

std::optional<std::uint64_t> cgroup_memory_limit(const FileReader& read) {
    const auto groups = read("/proc/self/cgroup");
    const auto mountinfo = read("/proc/self/mountinfo");
    if (!groups || !mountinfo) return std::nullopt;
    std::optional<std::uint64_t> least;
    auto take = [&](std::optional<std::uint64_t> limit) {
        if (limit) least = std::min(least.value_or(kUnlimited), *limit);
    };
    // Lines are "id:controllers:path": v2 is "0::path", v1 lists "memory" among its controllers.
    for (const std::string& line : split(*groups, '\n')) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            if (const auto mount = find_mount(*mountinfo, false))
                take(least_limit_up_the_tree(read, *mount, path, "memory.max"));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            if (const auto mount = find_mount(*mountinfo, true))
                take(least_limit_up_the_tree(read, *mount, path, "memory.limit_in_bytes"));
        }
    }
    return least;
}

std::uint64_t memory_budget_bytes() {
    std::uint64_t budget = kUnlimited;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && page_size > 0)
        budget = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
    rlimit address_space{};
    if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY)
        budget = std::min<std::uint64_t>(budget, address_space.rlim_cur);
    if (const auto limit = cgroup_memory_limit(read_file)) budget = std::min(budget, *limit);
    return budget;
}

}  // namespace vexa
