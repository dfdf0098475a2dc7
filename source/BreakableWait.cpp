// source/BreakableWait.cpp: the pipe through which a wait on the main thread sees a signal come
// without taking the interpreter lock.
#include "BreakableWait.h"

#include <fcntl.h>
#include <unistd.h>

namespace vexa2 { namespace python {

namespace {

// Made on first use, on the main thread with the lock held; a forked child makes its own, and
// treats the one it inherited (which its interpreter may still write to) as ours too.
struct WatchPipe
{
    int read = -1;
    int write = -1;
    int inherited = -1;
    pid_t owner = 0;
};
WatchPipe g_pipe;

bool openPipe()
{
    const pid_t self = getpid();
    if (g_pipe.owner == self)
        return g_pipe.write >= 0;
    // Left open in a forked child: its parent may still read from it.
    const int inherited = g_pipe.write;
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
        ends[0] = ends[1] = -1;
    g_pipe = WatchPipe{ends[0], ends[1], inherited, self};
    return g_pipe.write >= 0;
}

bool ours(int fd)
{
    return fd >= 0 && (fd == g_pipe.write || fd == g_pipe.inherited);
}

// signal.set_wakeup_fd(fd): the descriptor it replaced, or -2 when the call failed. An error set
// before (a handler's KeyboardInterrupt) is kept.
int setWakeupFd(int fd)
{
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject* module = PyImport_ImportModule("signal");
    PyObject* replaced = module ? PyObject_CallMethod(module, "set_wakeup_fd", "i", fd) : nullptr;
    const long old = replaced ? PyLong_AsLong(replaced) : -2;
    Py_XDECREF(replaced);
    Py_XDECREF(module);
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    return old < -1 ? -2 : static_cast<int>(old);
}

}  // namespace

SignalWatch::SignalWatch()
{
    if (!openPipe())
        return;
    const int previous = setWakeupFd(g_pipe.write);
    if (previous == -1 || ours(previous))
    {
        m_previous = previous == g_pipe.write ? previous : -1;
        m_watching = true;
    }
    else if (previous >= 0)
    {
        // Someone else's: theirs again. The interpreter tells no other setting of it, so its
        // warning on a full buffer is back to the default.
        setWakeupFd(previous);
    }
}

SignalWatch::~SignalWatch()
{
    if (!m_watching)
        return;
    // A handler that set a descriptor of its own and then raised ended the wait before rewatch.
    const int found = setWakeupFd(m_previous);
    if (found >= 0 && !ours(found))
        setWakeupFd(found);
}

void SignalWatch::rewatch()
{
    if (!m_watching)
        return;
    const int found = setWakeupFd(g_pipe.write);
    if (found == -1 || found == g_pipe.write)
        return;
    // A handler set its own: it stays, and the lock is taken after every slice.
    m_watching = false;
    if (found >= 0)
        setWakeupFd(found);
}

bool SignalWatch::signalled()
{
    if (!m_watching)
        return true;
    char drained[64];
    bool any = false;
    while (read(g_pipe.read, drained, sizeof drained) > 0)
        any = true;
    return any;
}

} }  // namespace vexa2::python
