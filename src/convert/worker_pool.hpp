// Threads that work through the chunks of one job at a time, for a coordinating thread that takes
// the chunks' results in order. Started when a run first needs them and kept until it ends.
#pragma once
#ifndef GRAYGIF_LAYER_CONVERT
#error "this target may not use src/convert (see the layers in the top CMakeLists.txt)"
#endif
#ifndef GRAYGIF_CONVERT_INSIDE
#error "the engine's threads and memory are its own: use convert/engine.hpp"
#endif

#include "convert/storage.hpp"
#include "platform/platform.hpp"

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace graygif {

// One job: `work` is called once for every chunk 0..chunk_count-1, on some worker, in any order
// (chunks are handed out in increasing order); `worker` is the worker's number (0..count-1), so
// that each may keep state of its own. A chunk is handed out only while it lies fewer than
// `window` chunks beyond the first one the coordinator has not yet released, so that chunks may
// fill `window` buffers used in turn; only workers numbered below `workers` take chunks.
struct PoolJob {
    void* context = nullptr;
    void (*work)(void* context, unsigned worker, std::size_t chunk) = nullptr;
    std::size_t chunk_count = 0;
    std::size_t window = SIZE_MAX;
    unsigned workers = UINT_MAX;
};

// Chunks are handed out and reported done without a lock (a chunk takes tens of microseconds,
// and a contended lock each time costs as much); the lock starts and stops jobs, and guards the
// waits, which are announced so that a wake-up is sent only where a thread waits.
struct WorkerPool {
    std::vector<ThreadHandle> threads;
    std::mutex mutex;
    std::condition_variable job_ready;  // workers wait here for a job or the window, under `mutex`
    std::condition_variable chunk_done; // the coordinator waits here, under `mutex`
    PoolJob job;                        // under `mutex`
    std::uint64_t job_number = 0;    // under `mutex`: counts the jobs, so a worker sees a new one
    bool job_open = false;           // under `mutex`: workers may still join the job
    bool stopping = false;           // under `mutex`
    std::atomic<unsigned> active{0}; // workers inside the job
    std::atomic<std::size_t> next_chunk{SIZE_MAX}; // the next chunk to hand out (none: past all)
    std::atomic<std::size_t> released{0}; // chunks below this one are released by the coordinator
    std::atomic<std::size_t> awaited{SIZE_MAX}; // the chunk the coordinator waits for, if any
    std::atomic<unsigned> window_waiters{0};    // workers that wait for the window to move
    Storage<std::atomic<std::uint32_t>> done;   // per chunk of the job: its work has returned
    std::size_t stack_size = 0;                 // of each worker thread
    bool started_once = false; // by a conversion that wanted workers: it asks once a run
};

// Workers need little stack: the reader's and the scaler's state is small and holds no recursion.
inline constexpr std::size_t worker_stack_size = std::size_t{256} << 10;

// Starts workers until the pool has `count`, as far as the system gives them.
// @return the number of workers.
unsigned pool_start(WorkerPool& pool, unsigned count, std::size_t stack_size = worker_stack_size);

// The number of workers started.
inline unsigned pool_size(const WorkerPool& pool) {
    return static_cast<unsigned>(pool.threads.size());
}

// Hands `job` to the workers; returns at once. The previous job must be finished.
// @return false when its table of chunks could not be had (nothing was handed out).
bool pool_begin(WorkerPool& pool, const PoolJob& job);

// Waits until the work of `chunk` has returned. Releases every chunk before it: their buffers
// may be used for later chunks.
void pool_wait_for_chunk(WorkerPool& pool, std::size_t chunk);

// Hands out no further chunk of the job and waits until every chunk handed out has returned.
void pool_finish(WorkerPool& pool);

// Ends the workers (after finishing the job in hand) and joins them. Not on a worker.
void pool_stop(WorkerPool& pool);

} // namespace graygif
