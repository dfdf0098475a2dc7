// Velvix trading library: reference counting, export macro, dates and the transport statics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#define VELVIX_API __attribute__((visibility("default")))

class IK7RSession;

// Every library interface but the two event queues derives from it.
class VELVIX_API IAddRef
{
public:
    IAddRef();
    virtual ~IAddRef();
    virtual int addRef() = 0;   // gives the new count
    virtual int release() = 0;  // gives the new count; the object is gone at 0

private:
    IAddRef(const IAddRef&) = delete;
    IAddRef& operator=(const IAddRef&) = delete;
};

// OLE Automation dates: days since 1899-12-30, the fraction being the time of day.
class VELVIX_API CK7RDateUtils
{
public:
    static bool OleTimeToCTime(double oleTime, struct tm* calendarTime);
    static bool CTimeToOleTime(const struct tm* calendarTime, double* oleTime);
};

// Process-wide transport settings and session creation.
class VELVIX_API CK7RTransport
{
public:
    static IK7RSession* createSession();
    static void setProxy(const char* host, int port, const char* user, const char* password);
    static void setCAInfo(const char* caFilePath);
    static void setNumberOfReconnections(int number);
    static void setTransportModulesPath(const char* path);
    static void setApplicationID(const char* id);
    static void getApplicationID(char* buffer, size_t& size);
    static void setClosedHistorySize(int size);
    static int getClosedHistorySize();
    static void finialize();
};
