// simcore: the simulation across a fork of the process. The child holds the forking thread alone:
// the other threads' deliveries never end there, and a lock one of them held, or a condition
// variable one of them waited on, would stay so for good. So each part that lives as long as the
// process takes its locks just before a fork (the child then finds its state whole), gives them
// back just after it in the parent, and in the child makes them anew and forgets the threads it had,
// which start again on first use, as in a new process.
#pragma once

#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <new>

namespace sim
{

// Registers what a part does around a fork, on the forking thread: `prepare` just before it, the
// parts registered later first (a part may call those made before it while it holds its own
// lock); `parent` and `child` just after it, in the order registered, in the parent and in the
// child. Only for parts that live as long as the process.
void aroundFork(std::function<void()> prepare, std::function<void()> parent, std::function<void()> child);

// `mutex` is taken before a fork and given back after it; in the child it is new, and so are the
// condition variables waited on with it.
void lockAcrossFork(std::mutex& mutex, std::initializer_list<std::condition_variable*> waits = {});

// Over the old one, whose destructor would wait for the threads the fork left behind.
template <class T>
void renewAfterFork(T& object)
{
    new (&object) T();
}

}  // namespace sim
