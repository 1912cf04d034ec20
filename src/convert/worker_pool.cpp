#include "convert/worker_pool.hpp"

#include <cassert>
#include <cstdlib>
#include <utility>

namespace graygif {

namespace {

struct WorkerStart {
    WorkerPool* pool;
    unsigned worker;
};

// Whether `worker` may take the next chunk now. Under the pool's lock.
bool may_take(const WorkerPool& pool, unsigned worker) {
    return pool.next_chunk < pool.handed_out_end && worker < pool.job.workers &&
           pool.next_chunk - pool.released < pool.job.window;
}

void run_worker(WorkerPool& pool, unsigned worker) {
    // The coordinating thread encodes what the workers finish: it must not fall behind.
    lower_thread_priority();
    std::unique_lock<std::mutex> lock(pool.mutex);
    for (;;) {
        pool.job_ready.wait(lock, [&] { return pool.stopping || may_take(pool, worker); });
        if (pool.stopping) return;
        const PoolJob job = pool.job;
        const std::size_t chunk = pool.next_chunk++;
        ++pool.working;
        lock.unlock();
        job.work(job.context, worker, chunk);
        lock.lock();
        --pool.working;
        pool.done[chunk] = 1;
        // A wake-up costs: only the chunk the coordinator waits for, or the last one out of a
        // finished job, calls for one.
        if (chunk == pool.awaited ||
            (pool.working == 0 && pool.next_chunk >= pool.handed_out_end)) {
            pool.chunk_done.notify_all();
        }
    }
}

void worker_entry(void* context) {
    const WorkerStart start = *static_cast<WorkerStart*>(context);
    std::free(context);
    run_worker(*start.pool, start.worker);
}

} // namespace

unsigned pool_start(WorkerPool& pool, unsigned count, std::size_t stack_size) {
    pool.stack_size = stack_size;
    pool.threads.reserve(count);
    for (unsigned worker = pool_size(pool); worker < count; ++worker) {
        auto* start = static_cast<WorkerStart*>(std::malloc(sizeof(WorkerStart)));
        ThreadHandle thread;
        // A thread the system refuses (a limit on processes or on memory) leaves the run with
        // the workers it has, or reading alone.
        if (start != nullptr) *start = WorkerStart{&pool, worker};
        if (start == nullptr || !thread_start(thread, worker_entry, start, stack_size)) {
            std::free(start);
            break;
        }
        pool.threads.push_back(thread);
    }
    return pool_size(pool);
}

bool pool_begin(WorkerPool& pool, const PoolJob& job) {
    // Allocated before the lock; a lack of memory only means that the job is done otherwise.
    Storage<char> done;
    if (!storage_reserve(done, job.chunk_count, true)) return false;
    {
        const std::lock_guard<std::mutex> lock(pool.mutex);
        assert(pool.working == 0 && pool.next_chunk >= pool.handed_out_end);
        pool.job = job;
        pool.next_chunk = 0;
        pool.released = 0;
        pool.handed_out_end = job.chunk_count;
        pool.done = std::move(done);
    }
    pool.job_ready.notify_all();
    return true;
}

void pool_wait_for_chunk(WorkerPool& pool, std::size_t chunk) {
    std::unique_lock<std::mutex> lock(pool.mutex);
    if (chunk > pool.released) {
        const bool was_blocked = pool.next_chunk < pool.handed_out_end &&
                                 pool.next_chunk - pool.released >= pool.job.window;
        pool.released = chunk;
        if (was_blocked) pool.job_ready.notify_all();
    }
    pool.awaited = chunk;
    pool.chunk_done.wait(lock, [&] { return pool.done[chunk] != 0; });
    pool.awaited = SIZE_MAX;
}

void pool_finish(WorkerPool& pool) {
    std::unique_lock<std::mutex> lock(pool.mutex);
    pool.handed_out_end = pool.next_chunk;
    pool.chunk_done.wait(lock, [&] { return pool.working == 0; });
}

void pool_stop(WorkerPool& pool) {
    {
        const std::lock_guard<std::mutex> lock(pool.mutex);
        pool.handed_out_end = pool.next_chunk;
        pool.stopping = true;
    }
    pool.job_ready.notify_all();
    for (ThreadHandle& thread : pool.threads) {
        assert(!thread_is_current(thread)); // a worker never ends the run
        thread_join(thread);
    }
    pool.threads.clear();
    const std::lock_guard<std::mutex> lock(pool.mutex);
    pool.stopping = false;
}

} // namespace graygif
