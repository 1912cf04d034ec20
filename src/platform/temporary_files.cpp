#include "platform/temporary_files.hpp"

#include "platform/name_rules.hpp"

#include <atomic>
#include <cstring>

namespace graygif {

namespace {

// A fixed buffer, read by the interruption handler. `marked` is cleared while the name changes,
// so that the handler never sees half of one; a lock-free atomic is safe in a signal handler.
char marked_name[4096];
std::atomic<int> marked{0};
static_assert(std::atomic<int>::is_always_lock_free);

} // namespace

std::string temporary_name_for(const std::string& target, const char* separators,
                               std::uint64_t process_id, unsigned counter) {
    const std::size_t base = after_last_separator(target, separators);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + std::string.
    std::string suffix(1, '.');
    suffix += std::to_string(process_id);
    suffix += '-';
    suffix += std::to_string(counter);
    suffix += ".tmp";
    std::string name = target.substr(0, base);
    name += '.';
    name.append(target, base, longest_name - 1 - suffix.size());
    name += suffix;
    return name;
}

bool create_temporary_file(const std::string& target, const char* separators,
                           std::uint64_t process_id, CreateNewFile create_new, FileHandle& file,
                           std::string& temporary_name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = temporary_name_for(target, separators, process_id, counter++);
        mark_temporary(candidate);
        const CreateResult created = create_new(candidate, file);
        if (created == CreateResult::created) {
            temporary_name = std::move(candidate);
            return true;
        }
        unmark_temporary(candidate);
        if (created == CreateResult::failed) return false;
    }
    return false;
}

void mark_temporary(const std::string& name) {
    marked.store(0);
    if (name.size() >= sizeof marked_name) return; // too long to guard
    std::memcpy(marked_name, name.c_str(), name.size() + 1);
    marked.store(1); // sequentially consistent: the name is whole before it counts
}

void unmark_temporary(const std::string& name) {
    if (marked.load() != 0 && name == marked_name) marked.store(0);
}

const char* take_marked_temporary() {
    return marked.exchange(0) != 0 ? marked_name : nullptr;
}

} // namespace graygif
