#include "app/worker_pool.hpp"

#include "platform/platform.hpp"

#include <functional>
#include <system_error>

namespace graygif {

namespace {

void run_worker(WorkerPool& pool, unsigned worker) {
    // The coordinating thread encodes the rows the workers finish: it must not fall behind.
    lower_thread_priority();
    std::uint64_t seen_job = 0;
    std::unique_lock<std::mutex> lock(pool.mutex);
    for (;;) {
        pool.job_ready.wait(lock, [&] {
            return pool.stopping ||
                   (pool.job_number != seen_job && pool.next_chunk < pool.handed_out_end);
        });
        if (pool.stopping) return;
        const PoolJob job = pool.job;
        while (pool.next_chunk < pool.handed_out_end) {
            const std::size_t chunk = pool.next_chunk++;
            ++pool.working;
            lock.unlock();
            job.work(job.context, worker, chunk);
            lock.lock();
            --pool.working;
            pool.done[chunk] = true;
            // A wake-up costs: only the chunk the coordinator waits for, or the last one out of
            // a finished job, calls for one.
            if (chunk == pool.awaited ||
                (pool.working == 0 && pool.next_chunk >= pool.handed_out_end)) {
                pool.chunk_done.notify_all();
            }
        }
        seen_job = pool.job_number;
    }
}

} // namespace

unsigned pool_start(WorkerPool& pool, unsigned count) {
    pool.threads.reserve(count);
    for (unsigned worker = pool_size(pool); worker < count; ++worker) {
        // std::thread reports a thread the system refuses (a limit on processes, say) only by
        // an exception: the run then goes on with the workers it has, or reads alone.
        try {
            pool.threads.emplace_back(run_worker, std::ref(pool), worker);
        } catch (const std::system_error&) {
            break;
        }
    }
    return pool_size(pool);
}

void pool_begin(WorkerPool& pool, const PoolJob& job) {
    // Allocated before the lock: the out-of-memory handler stops the pool, which takes it.
    std::vector<bool> done(job.chunk_count, false);
    {
        const std::lock_guard<std::mutex> lock(pool.mutex);
        pool.job = job;
        ++pool.job_number;
        pool.next_chunk = 0;
        pool.handed_out_end = job.chunk_count;
        pool.done.swap(done);
    }
    pool.job_ready.notify_all();
}

void pool_wait_for_chunk(WorkerPool& pool, std::size_t chunk) {
    std::unique_lock<std::mutex> lock(pool.mutex);
    pool.awaited = chunk;
    pool.chunk_done.wait(lock, [&] { return static_cast<bool>(pool.done[chunk]); });
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
    for (std::thread& thread : pool.threads) thread.join();
    pool.threads.clear();
}

} // namespace graygif
