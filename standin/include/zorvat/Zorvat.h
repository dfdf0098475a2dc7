// Zorvat quotes-cache library: the cache object behind a history communicator, its instrument
// lists, its update task and the callback that reports on the task.
#pragma once

#include "velvix/K7REnums.h"

#define ZORVAT_API __attribute__((visibility("default")))

namespace zorvat
{

class ZORVAT_API IAddRef
{
public:
    virtual int addRef() = 0;   // gives the new count
    virtual int release() = 0;  // gives the new count; the object is gone at 0

protected:
    IAddRef();
    virtual ~IAddRef();

private:
    IAddRef(const IAddRef&) = delete;
    IAddRef& operator=(const IAddRef&) = delete;
};

class ZORVAT_API IError : public IAddRef
{
public:
    enum Code : int
    {
        LOCKED = 0,
        QUOTES_CATALOG_BUSY = 1,
        QUOTES_CACHE_BUSY = 2,
        QUOTES_CACHE_CORRUPTED = 3,
        QUOTES_SERVER_CONNECTION_ERROR = 4,
        LOADING_ERROR = 5,
        QUOTES_LOADER_ERROR = 6,
        QUOTES_NOT_FOUND = 7,
        BAD_ARGUMENT = 8,
        OTHER_ERROR = 9,
        LIMIT_REACHED = 10
    };
    virtual const char* getMessage() = 0;  // may be null
    virtual Code getCode() = 0;
    virtual int getSubCode() = 0;

protected:
    ~IError() override;
};

class ZORVAT_API IStringList : public IAddRef
{
public:
    virtual int size() = 0;
    virtual const char* get(int index) = 0;

protected:
    ~IStringList() override;
};

class ZORVAT_API IInstrument : public IAddRef
{
public:
    virtual const char* getName() = 0;
    virtual double getPointSize() = 0;
    virtual IStringList* getTimeframes() = 0;  // add-referenced, null for none

protected:
    ~IInstrument() override;
};

class ZORVAT_API IInstrumentList : public IAddRef
{
public:
    virtual int size() = 0;
    virtual IInstrument* get(int index) = 0;  // add-referenced, null past the end

protected:
    ~IInstrumentList() override;
};

// Opaque: created by the cache, only handed back to it.
class ZORVAT_API ITask : public IAddRef
{
protected:
    ~ITask() override;
};

// Implemented by the caller; an executed task ends with exactly one of these reports.
class ZORVAT_API IUpdateInstrumentsCallback : public IAddRef
{
public:
    virtual void onUpdateFailed(ITask* task, IError* error) = 0;
    virtual void onUpdateCompleted() = 0;
    virtual void onUpdateCancelled() = 0;

protected:
    IUpdateInstrumentsCallback();
    ~IUpdateInstrumentsCallback() override;
};

class ZORVAT_API IZorvat : public IAddRef
{
public:
    virtual void setCandleOpenPriceMode(K7RCandleOpenPriceMode mode) = 0;
    virtual K7RCandleOpenPriceMode getCandleOpenPriceMode() = 0;
    virtual const char* getCachePath() = 0;
    virtual bool areInstrumentsLoaded(IError** error) = 0;
    virtual ITask* createUpdateInstrumentsTask(IUpdateInstrumentsCallback* callback, IError** error) = 0;
    virtual bool executeTask(ITask* task, IError** error) = 0;
    virtual void cancelTask(ITask* task) = 0;
    virtual IInstrumentList* getInstruments(IError** error) = 0;
    virtual IStringList* getTimeframes() = 0;

protected:
    ~IZorvat() override;
};

}  // namespace zorvat
