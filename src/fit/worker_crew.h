#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace dravo2::fit {

// Threads kept for an object's life that take part of each round of work beside the caller: a
// round runs task(0) on the calling thread and task(1) .. task(Size()) on the crew, and ends when
// all are done, so that a round starts no thread. Rounds from several threads take turns. An
// exception a task throws is rethrown by Run (the first in task order).
class WorkerCrew {
public:
    explicit WorkerCrew(std::size_t workers);
    ~WorkerCrew();
    WorkerCrew(const WorkerCrew&) = delete;
    WorkerCrew& operator=(const WorkerCrew&) = delete;

    std::size_t Size() const { return Threads.size(); }
    void Run(const std::function<void(std::size_t)>& task);

private:
    void Work(std::size_t index);

    std::mutex RoundMutex; // one round at a time
    std::mutex Mutex;
    std::condition_variable Wake;
    std::condition_variable Finished;
    const std::function<void(std::size_t)>* Task = nullptr;
    std::uint64_t Round = 0;
    std::size_t Pending = 0;
    bool Quit = false;
    std::vector<std::exception_ptr> Errors;
    std::vector<std::thread> Threads;
};

} // namespace dravo2::fit
