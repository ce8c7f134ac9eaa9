#pragma once
// Work done beside the caller on the program's pool of threads: its result,
// or what it threw, comes back through a std::future. The pool keeps its
// three threads for later work, so the memory each thread keeps stays with
// a few of them; more work waits its turn. The future does not wait in its destructor: whoever must not go
// on before the work has ended waits for it (wait(), get()).
#include <QThreadPool>

#include <future>
#include <memory>
#include <type_traits>
#include <utility>

namespace background {

// The pool. A process forked from one whose pool had threads (a test's
// child) gets a pool of its own: the threads did not come along.
QThreadPool &pool();

template <class Work> std::future<std::invoke_result_t<Work>> run(Work work) {
    using Result = std::invoke_result_t<Work>;
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
    std::future<Result> result = task->get_future();
    pool().start([task] { (*task)(); });
    return result;
}

} // namespace background
