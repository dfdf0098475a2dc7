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
// child. Only for parts that live as long as the process, each made as its library loads: a fork
// during the making of one would leave it unfinished in the child, which would wait on it for good.
//
// The order the locks are taken in follows from which one is held while another is taken, never
// the other way round, and from the order the libraries load in (each part makes the world, or
// the library it calls, before it registers):
//   1. the history library's and the quotes cache's parts, which call the trading library's;
//   2. the trading library's: its table side (which takes the registry), its services (the
//      registry and each provider's own lock), its request desk, its queue book (each queue's own
//      lock), its searches, its timeframes, the market's settings and prices, the desk's ledger,
//      waiting orders and price feed, and the accounts (their map, then each account's book). None
//      of these is held while another of them is taken, so their own order does not matter;
//   3. the world's: dispatcher, hooks, scenario, faults, journal, registry.
// The locks of objects of other lifetimes (sessions, tables, rows, queues, providers) are not
// taken. A queue's or a provider's, which a part above may take, is held while no other lock is
// taken, so the fork never waits on them; a thread that holds one while it waits for a lock above
// only waits for the fork to end. One held at the fork stays held in the child, whose new
// sessions therefore reach none of the parent's sessions, tables or queues. The forking Python
// thread holds the interpreter lock throughout, and no lock here is held while that one is
// waited for, since no listener is ever called, nor given back, under one.
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
