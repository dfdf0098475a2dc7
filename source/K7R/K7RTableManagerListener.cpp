// source/K7R/K7RTableManagerListener.cpp: the table manager listener class AK7RTableManagerListener,
// through which a script follows the loading of its tables, and the job that carries each report
// from the library's thread to the late-call worker.
#include "K7R/K7RTableManagerListener.h"

#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include <memory>

#include "Constructors.h"
#include "GILGuard.h"
#include "PythonExit.h"
#include "LateCaller.h"

namespace vexa2 { namespace python {

namespace {

const CallbackSite kStatusChanged{"on_status_changed",
                                  "AK7RTableManagerListener::on_status_changed",
                                  "onStatusChanged", "source\\K7R\\K7RTableManagerListener", 16};

// One report on its way: a reference on the listener's library-side object and one on the
// manager (null allowed). Whatever the job did not hand on is released when the job goes, so a
// job that a stopped worker drops unrun leaves no count behind; none of it touches Python.
class TableManagerStatusReport
{
public:
    TableManagerStatusReport(K7RTableManagerListenerHelper* helper, K7RTableManagerStatus status,
                             IK7RTableManager* manager)
        : m_helper(helper), m_status(status), m_manager(manager)
    {
    }

    ~TableManagerStatusReport()
    {
        if (m_manager)
            m_manager->release();
        m_helper->release();
    }

    TableManagerStatusReport(const TableManagerStatusReport&) = delete;
    TableManagerStatusReport& operator=(const TableManagerStatusReport&) = delete;

    // tableManagerStatusJob: under the lock, the manager goes to Python as a handle when the
    // owner is still there; otherwise it is only released (with the report).
    void run()
    {
        PythonEntry entry;
        if (!entry.admitted())
            return;
        GILGuard gil;
        K7RTableManagerListenerImpl* owner = m_helper->owner();
        if (!owner)
            return;
        // The override may drop the Python object's last other reference while it runs.
        const PythonReference self(
            boost::python::xincref(boost::python::detail::wrapper_base_::get_owner(*owner)));
        LibraryHandle<IK7RTableManager> manager = makeLibraryHandle(m_manager);
        m_manager = nullptr;
        owner->onStatusChanged(m_status, manager);
    }

private:
    K7RTableManagerListenerHelper* m_helper;
    K7RTableManagerStatus m_status;
    IK7RTableManager* m_manager;
};

}  // namespace

void K7RTableManagerListenerHelper::onStatusChanged(K7RTableManagerStatus status,
                                                    IK7RTableManager* manager)
{
    if (!m_owner.load())
        return;
    if (manager)
        manager->addRef();
    addRef();
    // The job's own copies share the report; the last one to go releases what is left.
    auto report = std::make_shared<TableManagerStatusReport>(this, status, manager);
    LateCaller::instance().post([report] { report->run(); });
}

void K7RTableManagerListenerImpl::onStatusChanged(K7RTableManagerStatus status,
                                                  LibraryHandle<IK7RTableManager> manager)
{
    dispatch(kStatusChanged, status, manager);
}

} }  // namespace vexa2::python

void exportTableManagerListener()
{
    namespace bp = boost::python;
    using vexa2::python::K7RTableManagerListenerImpl;
    using vexa2::python::checkedInit;

    bp::class_<K7RTableManagerListenerImpl, boost::shared_ptr<K7RTableManagerListenerImpl>,
               boost::noncopyable>
        listener("AK7RTableManagerListener",
                 "The abstract class provides the method signature to process notifications about "
                 "table manager status changes.",
                 checkedInit<K7RTableManagerListenerImpl>());
    vexa2::python::defCallback(listener, "on_status_changed",
                               &K7RTableManagerListenerImpl::onStatusChanged,
                               "Processes notifications about the table manager status changes.");
}
