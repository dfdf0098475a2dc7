// source/K7R/K7RUpdateEventQueue.cpp: K7RUpdateEventQueue, the queue of the rows of one kind of
// event of one table. Its rows reach Python as their most specific row class.
#include <boost/python.hpp>

#include <utility>

#include "K7R/K7REventQueue.h"
#include "K7R/K7RUpdateEventQueueListener.h"
#include "K7R/RowWrapping.h"

namespace bp = boost::python;
using namespace vexa2::python;

namespace {

// A row taken from the queue, with its reference, on its way to Python: wrapped by the converter
// below once the interpreter lock is back. A row that never got there is released.
class TakenRow
{
public:
    explicit TakenRow(IK7RRow* row) : m_row(row) {}
    TakenRow(TakenRow&& other) noexcept : m_row(std::exchange(other.m_row, nullptr)) {}
    TakenRow(const TakenRow&) = delete;
    TakenRow& operator=(const TakenRow&) = delete;
    ~TakenRow()
    {
        if (m_row)
            m_row->release();
    }

    // Hands the reference over (the converter gets the row as const).
    IK7RRow* hand() const { return std::exchange(m_row, nullptr); }

private:
    mutable IK7RRow* m_row;
};

TakenRow takeRow(IK7RRow* row)
{
    return TakenRow(row);
}

struct TakenRowToPython
{
    static PyObject* convert(const TakenRow& taken)
    {
        try
        {
            return bp::incref(rowToPythonObject(taken.hand()).ptr());
        }
        catch (const bp::error_already_set&)
        {
            return nullptr;
        }
    }
};

using Members = EventQueueMembers<IK7RUpdateEventQueue, IK7RRow, TakenRow, &takeRow>;

}  // namespace

void exportUpdateEventQueue()
{
    registerQueueBreaker();
    bp::to_python_converter<TakenRow, TakenRowToPython>();
    bp::class_<IK7RUpdateEventQueue, boost::shared_ptr<IK7RUpdateEventQueue>, boost::noncopyable>
        queue("K7RUpdateEventQueue", "Reserved for future use.", bp::no_init);
    Members::define<K7RUpdateEventQueueListenerImpl, false>(queue);
}
