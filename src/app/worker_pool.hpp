// Threads that work through the chunks of one job at a time, for a coordinating thread that takes
// the chunks' results in order. Started when a run first needs them and kept until it ends.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace graygif {

// One job: `work` is called once for every chunk 0..chunk_count-1, on some worker, in any order
// (chunks are handed out in increasing order); `worker` is the worker's number (0..count-1), so
// that each may keep state of its own.
struct PoolJob {
    void* context = nullptr;
    void (*work)(void* context, unsigned worker, std::size_t chunk) = nullptr;
    std::size_t chunk_count = 0;
};

struct WorkerPool {
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable job_ready;  // workers wait here for a job
    std::condition_variable chunk_done; // the coordinator waits here for a chunk
    PoolJob job;
    std::uint64_t job_number = 0;   // counts the jobs started, so a worker sees a new one
    std::size_t next_chunk = 0;     // the next chunk to hand out
    std::size_t handed_out_end = 0; // no chunk from here on is handed out (a cancelled job)
    std::vector<bool> done;         // per chunk of the job: its work has returned
    unsigned working = 0;           // workers inside a chunk's work
    std::size_t awaited = SIZE_MAX; // the chunk the coordinator waits for, if it waits
    bool stopping = false;
};

// Starts workers until the pool has `count`, as far as the system gives them.
// @return the number of workers.
unsigned pool_start(WorkerPool& pool, unsigned count);

// The number of workers started.
inline unsigned pool_size(const WorkerPool& pool) {
    return static_cast<unsigned>(pool.threads.size());
}

// Hands `job` to the workers; returns at once. The previous job must be finished.
void pool_begin(WorkerPool& pool, const PoolJob& job);

// Waits until the work of `chunk` has returned.
void pool_wait_for_chunk(WorkerPool& pool, std::size_t chunk);

// Hands out no further chunk of the job and waits until every chunk handed out has returned.
void pool_finish(WorkerPool& pool);

// Ends the workers (after finishing the job in hand) and joins them.
void pool_stop(WorkerPool& pool);

} // namespace graygif
