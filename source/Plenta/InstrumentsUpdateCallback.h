// source/Plenta/InstrumentsUpdateCallback.h: the quotes cache's instruments update as one blocking
// step, and the module's own timeframe collection that the communicator's timeframes are put in.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <velvix/Velvix.h>
#include <zorvat/Zorvat.h>

#include "AddRefImpl.h"
#include "Plenta/OneShotReport.h"

namespace vexa2 { namespace python {

// The one-shot waiter of an update-instruments task; the cache reports on its own thread.
class InstrumentsUpdateCallback final
    : public TK7R2ThreadSafeAddRefImpl<zorvat::IUpdateInstrumentsCallback>
{
public:
    ~InstrumentsUpdateCallback() override;

    void onUpdateFailed(zorvat::ITask* task, zorvat::IError* error) override;
    void onUpdateCompleted() override;
    void onUpdateCancelled() override;

    // Called holding the interpreter lock; lets it go until the report came. False when a signal
    // handler raised meanwhile.
    bool wait() { return m_report.wait(); }
    bool isCanceled() { return m_report.isCanceled(); }
    // With a reference added for the caller; null when none.
    zorvat::IError* getError() { return m_report.held(m_error); }

private:
    OneShotReport m_report;
    zorvat::IError* m_error = nullptr;
};

} }  // namespace vexa2::python

// Timeframes by insertion order and by identifier; an identifier added again replaces the earlier
// entry and moves to the end. Filled by one thread before anyone else sees it, read-only after.
class K7RTimeframeCollection final
    : public vexa2::python::TK7R2ThreadSafeAddRefImpl<IK7RTimeframeCollection>
{
public:
    ~K7RTimeframeCollection() override;

    // Null is ignored; the collection takes a reference of its own.
    void add(IK7RTimeframe* timeframe);

    int size() override;
    IK7RTimeframe* getById(const char* id) override;
    IK7RTimeframe* get(int index) override;

private:
    std::vector<IK7RTimeframe*> m_timeframes;
    std::map<std::string, IK7RTimeframe*> m_byId;
};
