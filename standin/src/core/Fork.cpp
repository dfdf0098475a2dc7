// simcore: the parts' fork handlers, run in their order by one registration with the C library.
#include "core/Fork.h"

#include <pthread.h>

#include <vector>

namespace sim
{

namespace
{

struct Handlers
{
    std::function<void()> prepare;
    std::function<void()> parent;
    std::function<void()> child;
};

struct Parts
{
    std::mutex mutex;  // taken across the fork itself, so no part registers during one
    std::vector<Handlers> handlers;
};

// Never destroyed: a fork may come at any time until the process ends.
Parts& parts()
{
    static Parts* p = new Parts;
    return *p;
}

void prepare()
{
    parts().mutex.lock();
    for (auto it = parts().handlers.rbegin(); it != parts().handlers.rend(); ++it)
        it->prepare();
}

void parent()
{
    for (Handlers& h : parts().handlers)
        h.parent();
    parts().mutex.unlock();
}

void child()
{
    renewAfterFork(parts().mutex);
    for (Handlers& h : parts().handlers)
        h.child();
}

}  // namespace

void aroundFork(std::function<void()> prepareFork, std::function<void()> parentAfterFork,
                std::function<void()> childAfterFork)
{
    static const int registered = pthread_atfork(&prepare, &parent, &child);
    (void)registered;
    std::lock_guard<std::mutex> lock(parts().mutex);
    parts().handlers.push_back(Handlers{std::move(prepareFork), std::move(parentAfterFork), std::move(childAfterFork)});
}

void lockAcrossFork(std::mutex& mutex, std::initializer_list<std::condition_variable*> waits)
{
    std::vector<std::condition_variable*> renewed(waits);
    aroundFork([&mutex] { mutex.lock(); }, [&mutex] { mutex.unlock(); },
               [&mutex, renewed] {
                   renewAfterFork(mutex);
                   for (std::condition_variable* wait : renewed)
                       renewAfterFork(*wait);
               });
}

}  // namespace sim
