// Plenta historical-price library: the communicator bound to a trading session, its requests,
// responses, timeframe factory, errors, and the listeners it reports to.
#pragma once

#include "velvix/Velvix.h"
#include "zorvat/Zorvat.h"

#define PLENTA_API __attribute__((visibility("default")))

namespace plenta
{

class PLENTA_API IAddRef
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

class PLENTA_API IError : public IAddRef
{
public:
    enum Code : int
    {
        ZORVAT_ERROR = 0,  // the reason is the nested quotes-cache error
        NOT_READY = 1,
        BAD_ARGUMENTS = 2,
        OTHER_ERROR = 3
    };
    virtual const char* getMessage() = 0;            // may be null
    virtual Code getCode() = 0;
    virtual zorvat::IError* getZorvatError() = 0;    // add-referenced, null for none

protected:
    ~IError() override;
};

class PLENTA_API IPlentaCommunicatorRequest : public IAddRef
{
public:
    virtual const char* getInstrument() = 0;
    virtual double getFromDate() = 0;
    virtual double getToDate() = 0;
    virtual int getQuotesCount() = 0;
    virtual IK7RTimeframe* getTimeframe() = 0;  // add-referenced trading-library object

protected:
    ~IPlentaCommunicatorRequest() override;
};

// Opaque to callers: only handed back to createResponseReader.
class PLENTA_API IPlentaCommunicatorResponse : public IAddRef
{
protected:
    ~IPlentaCommunicatorResponse() override;
};

class PLENTA_API ITimeframeFactory : public IAddRef
{
public:
    virtual IK7RTimeframe* createByUnit(K7RTimeframeUnit unit, int size, IError** error) = 0;
    virtual IK7RTimeframe* create(const char* id, IError** error) = 0;

protected:
    ~ITimeframeFactory() override;
};

// Implemented by the caller; arguments are lent for the call and may be null.
class PLENTA_API IPlentaCommunicatorListener : public IAddRef
{
public:
    virtual void onRequestCompleted(IPlentaCommunicatorRequest* request, IPlentaCommunicatorResponse* response) = 0;
    virtual void onRequestFailed(IPlentaCommunicatorRequest* request, IError* error) = 0;
    virtual void onRequestCancelled(IPlentaCommunicatorRequest* request) = 0;

protected:
    IPlentaCommunicatorListener();
    ~IPlentaCommunicatorListener() override;
};

class PLENTA_API IPlentaCommunicatorStatusListener : public IAddRef
{
public:
    virtual void onCommunicatorStatusChanged(bool ready) = 0;
    virtual void onCommunicatorInitFailed(IError* error) = 0;

protected:
    IPlentaCommunicatorStatusListener();
    ~IPlentaCommunicatorStatusListener() override;
};

class PLENTA_API IPlentaCommunicator : public IAddRef
{
public:
    virtual void addListener(IPlentaCommunicatorListener* listener) = 0;
    virtual void removeListener(IPlentaCommunicatorListener* listener) = 0;
    virtual void addStatusListener(IPlentaCommunicatorStatusListener* listener) = 0;
    virtual void removeStatusListener(IPlentaCommunicatorStatusListener* listener) = 0;
    virtual ITimeframeFactory* getTimeframeFactory() = 0;
    virtual IPlentaCommunicatorRequest* createRequest(const char* instrument, IK7RTimeframe* timeframe,
                                                      double from, double to, int quotesCount,
                                                      IError** error) = 0;
    virtual bool sendRequest(IPlentaCommunicatorRequest* request, IError** error) = 0;  // error may be null
    virtual void cancelRequest(IPlentaCommunicatorRequest* request) = 0;
    virtual bool isReady() = 0;
    virtual IK7RMarketDataSnapshotResponseReader* createResponseReader(IPlentaCommunicatorResponse* response,
                                                                       IError** error) = 0;
    virtual zorvat::IZorvat* getZorvat() = 0;

protected:
    ~IPlentaCommunicator() override;
};

class PLENTA_API PlentaCommunicatorFactory
{
public:
    static IPlentaCommunicator* createCommunicator(IK7RSession* session, const char* cachePath, IError** error);
    static void setProxy(const char* host, int port, const char* user, const char* password);
};

}  // namespace plenta
