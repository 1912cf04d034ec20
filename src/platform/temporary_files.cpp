#include "platform/temporary_files.hpp"

#include "platform/name_rules.hpp"

#include <atomic>
#include <cstring>

namespace graygif {

namespace {

// Fixed buffers, read by the interruption handler: a picture's file and an animation's are written
// at once. A slot's `marked` is cleared while its name changes, so that the handler never sees
// half of one; a lock-free atomic is safe in a signal handler.
struct MarkedSlot {
    char name[4096];
    std::atomic<int> marked{0};
};
MarkedSlot slots[max_marked_temporaries];
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
    if (name.size() >= sizeof slots[0].name) return; // too long to guard
    // A free slot, else the first: its file is then no longer guarded.
    MarkedSlot* slot = &slots[0];
    for (MarkedSlot& candidate : slots) {
        if (candidate.marked.load() == 0) {
            slot = &candidate;
            break;
        }
    }
    slot->marked.store(0);
    std::memcpy(slot->name, name.c_str(), name.size() + 1);
    slot->marked.store(1); // sequentially consistent: the name is whole before it counts
}

void unmark_temporary(const std::string& name) {
    for (MarkedSlot& slot : slots)
        if (slot.marked.load() != 0 && name == slot.name) slot.marked.store(0);
}

const char* take_marked_temporary() {
    for (MarkedSlot& slot : slots)
        if (slot.marked.exchange(0) != 0) return slot.name;
    return nullptr;
}

} // namespace graygif
