#include "fit/worker_crew.h"

namespace dravo2::fit {

WorkerCrew::WorkerCrew(std::size_t workers) {
    Errors.resize(workers + 1);
    Threads.reserve(workers);
    for (std::size_t k = 1; k <= workers; ++k) {
        Threads.emplace_back([this, k] { Work(k); });
    }
}

WorkerCrew::~WorkerCrew() {
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        Quit = true;
    }
    Wake.notify_all();
    for (std::thread& thread : Threads) {
        thread.join();
    }
}

void WorkerCrew::Work(std::size_t index) {
    std::uint64_t seen = 0;
    for (;;) {
        const std::function<void(std::size_t)>* task = nullptr;
        {
            std::unique_lock<std::mutex> lock(Mutex);
            Wake.wait(lock, [&] { return Quit || Round != seen; });
            if (Quit) {
                return;
            }
            seen = Round;
            task = Task;
        }
        std::exception_ptr error;
        try {
            (*task)(index);
        } catch (...) {
            error = std::current_exception();
        }
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            Errors[index] = error;
            --Pending;
        }
        Finished.notify_one();
    }
}

void WorkerCrew::Run(const std::function<void(std::size_t)>& task) {
    const std::lock_guard<std::mutex> round(RoundMutex);
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        Task = &task;
        Pending = Threads.size();
        ++Round;
    }
    Wake.notify_all();
    try {
        task(0);
        Errors[0] = nullptr;
    } catch (...) {
        Errors[0] = std::current_exception();
    }
    std::unique_lock<std::mutex> lock(Mutex);
    Finished.wait(lock, [this] { return Pending == 0; });
    for (const std::exception_ptr& error : Errors) {
        if (error) {
            std::rethrow_exception(error);
        }
    }
}

} // namespace dravo2::fit
