#include "platform/Background.h"

#include <mutex>
#include <unistd.h>

namespace background {

QThreadPool &pool() {
    static std::mutex guard;
    static QThreadPool *current = nullptr;
    static pid_t owner = 0;
    const std::lock_guard<std::mutex> lock(guard);
    if (!current || owner != getpid()) {
        // The pool of the parent process is left as it is: its threads are not here to end.
        current = new QThreadPool;
        // A few threads: each keeps memory of its own once it has used it.
        current->setMaxThreadCount(3);
        owner = getpid();
    }
    return *current;
}

} // namespace background
