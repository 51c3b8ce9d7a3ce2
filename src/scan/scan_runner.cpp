#include "scan/scan_runner.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace dravo2 {
inline namespace scan {

std::vector<ScanRow> RunScanPoints(const std::vector<std::size_t>& points, unsigned threads,
                                   const PointFunction& compute, const std::atomic<bool>& cancel,
                                   const ProgressFunction& progress) {
    std::vector<ScanRow> rows(points.size());
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::size_t done = 0;
    unsigned running = 0;
    std::exception_ptr error;
    std::mutex mutex;
    std::condition_variable changed;

    auto work = [&] {
        for (;;) {
            if (cancel.load() || failed.load()) {
                break;
            }
            const std::size_t i = next.fetch_add(1);
            if (i >= points.size()) {
                break;
            }
            try {
                rows[i] = compute(points[i]);
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!error) {
                    error = std::current_exception();
                }
                failed = true;
            }
            const std::lock_guard lock(mutex);
            ++done;
            changed.notify_all();
        }
        const std::lock_guard lock(mutex);
        --running;
        changed.notify_all();
    };

    const unsigned count = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(points.size())));
    std::vector<std::thread> workers;
    running = count;
    for (unsigned t = 0; t < count; ++t) {
        workers.emplace_back(work);
    }
    // The count last reported: a run that ends before the first wait, or between a report and the
    // check that follows it, still reports its final count once.
    std::optional<std::size_t> reported;
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            changed.wait_for(lock, std::chrono::milliseconds(200));
            if (progress) {
                const std::size_t now = done;
                lock.unlock();
                progress(now);
                reported = now;
                lock.lock();
            }
        }
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (progress && reported != done) {
        progress(done);
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return rows;
}

} // namespace scan
} // namespace dravo2
