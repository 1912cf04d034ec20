#include "convert/worker_pool.hpp"

#include <cassert>
#include <cstdlib>
#include <utility>

namespace graygif {

namespace {

// No chunk is handed out from here on: the value next_chunk takes when a job is finished.
constexpr std::size_t past_all = SIZE_MAX;

struct WorkerStart {
    WorkerPool* pool;
    unsigned worker;
};

// Stores `value` where another thread looks before it waits, ahead of this thread's own look at
// what that thread announced. An exchange, not a store: the look after it must not be taken
// before it, which a sequentially consistent store promises but which aarch64 code run under
// qemu-user on x86 (the cross tests) does not keep for a store-release and a later
// load-acquire; a read-modify-write keeps it everywhere. Once a chunk: its cost does not show.
void announce(std::atomic<std::size_t>& at, std::size_t value) {
    at.exchange(value);
}

// Takes the next chunk of `job`, waiting while the window is full. @return past_all when the
// job has no more for this worker.
std::size_t take_chunk(WorkerPool& pool, const PoolJob& job) {
    std::size_t chunk = pool.next_chunk.load();
    for (;;) {
        if (chunk >= job.chunk_count) return past_all;
        if (chunk - pool.released.load() >= job.window) {
            // Until the coordinator releases a chunk, or finishes the job (announced first, so
            // that the coordinator, seeing the announcement after moving, wakes this worker).
            std::unique_lock<std::mutex> lock(pool.mutex);
            pool.window_waiters.fetch_add(1);
            pool.job_ready.wait(lock, [&] {
                chunk = pool.next_chunk.load();
                return chunk >= job.chunk_count || chunk - pool.released.load() < job.window;
            });
            pool.window_waiters.fetch_sub(1);
            continue;
        }
        if (pool.next_chunk.compare_exchange_weak(chunk, chunk + 1)) return chunk;
    }
}

// Wakes the threads waiting under the pool's lock (taken, so that none is between its check
// and its wait).
void wake(WorkerPool& pool, std::condition_variable& waiting) {
    { const std::lock_guard<std::mutex> lock(pool.mutex); }
    waiting.notify_all();
}

void run_worker(WorkerPool& pool, unsigned worker) {
    // The coordinating thread encodes what the workers finish: it must not fall behind.
    lower_thread_priority();
    std::uint64_t seen_job = 0;
    for (;;) {
        PoolJob job;
        {
            std::unique_lock<std::mutex> lock(pool.mutex);
            pool.job_ready.wait(lock, [&] {
                return pool.stopping || (pool.job_open && pool.job_number != seen_job);
            });
            if (pool.stopping) return;
            seen_job = pool.job_number;
            if (worker >= pool.job.workers) continue;
            job = pool.job;
            // Joined under the lock: pool_finish, once it has closed the job, waits for every
            // worker inside it, so none takes a chunk of the next job for this one.
            pool.active.fetch_add(1);
        }
        for (std::size_t chunk = take_chunk(pool, job); chunk != past_all;
             chunk = take_chunk(pool, job)) {
            job.work(job.context, worker, chunk);
            pool.done[chunk].exchange(1); // see announce()
            if (pool.awaited.load() == chunk) wake(pool, pool.chunk_done);
        }
        if (pool.active.fetch_sub(1) == 1) wake(pool, pool.chunk_done);
    }
}

void worker_entry(void* context) {
    const WorkerStart start = *static_cast<WorkerStart*>(context);
    std::free(context);
    run_worker(*start.pool, start.worker);
}

// Hands out no further chunk.
void stop_handing_out(WorkerPool& pool) {
    pool.next_chunk.store(past_all);
    // Workers waiting for the window find no chunk left.
    wake(pool, pool.job_ready);
}

} // namespace

unsigned pool_start(WorkerPool& pool, unsigned count, std::size_t stack_size) {
    pool.stack_size = stack_size;
    pool.threads.reserve(count);
    for (unsigned worker = pool_size(pool); worker < count; ++worker) {
        // malloc, not new: a lack of memory here means fewer workers, not the run's new-handler.
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
    // Allocated before the job starts; a lack of memory only means that the job is done otherwise.
    Storage<std::atomic<std::uint32_t>> done;
    if (!storage_reserve(done, job.chunk_count, true)) return false;
    {
        const std::lock_guard<std::mutex> lock(pool.mutex);
        assert(pool.next_chunk.load() == past_all); // the previous job is finished
        pool.job = job;
        pool.done = std::move(done);
        pool.released.store(0);
        pool.awaited.store(SIZE_MAX);
        pool.next_chunk.store(0);
        ++pool.job_number;
        pool.job_open = true;
    }
    pool.job_ready.notify_all();
    return true;
}

void pool_wait_for_chunk(WorkerPool& pool, std::size_t chunk) {
    if (chunk > pool.released.load()) {
        announce(pool.released, chunk);
        if (pool.window_waiters.load() != 0) wake(pool, pool.job_ready);
    }
    std::atomic<std::uint32_t>& done = pool.done[chunk];
    if (done.load() != 0) return;
    // Announced before the last look: a worker that finishes the chunk after it sees it.
    announce(pool.awaited, chunk);
    std::unique_lock<std::mutex> lock(pool.mutex);
    pool.chunk_done.wait(lock, [&] { return done.load() != 0; });
    pool.awaited.store(SIZE_MAX);
}

void pool_finish(WorkerPool& pool) {
    stop_handing_out(pool);
    std::unique_lock<std::mutex> lock(pool.mutex);
    pool.job_open = false;
    // Every chunk handed out has returned once no worker is inside the job.
    pool.chunk_done.wait(lock, [&] { return pool.active.load() == 0; });
}

void pool_stop(WorkerPool& pool) {
    stop_handing_out(pool);
    {
        const std::lock_guard<std::mutex> lock(pool.mutex);
        pool.job_open = false;
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
