// The trading library's date helpers over the simulated world's OLE arithmetic. Tests make a
// conversion fail once through the faults "CK7RDateUtils::OleTimeToCTime" and
// "CK7RDateUtils::CTimeToOleTime"; not journaled, as every date cell passes through here.
#include "velvix/K7RBase.h"

#include "core/OleDate.h"
#include "core/World.h"

bool CK7RDateUtils::OleTimeToCTime(double oleTime, struct tm* calendarTime)
{
    if (sim::takeFault("CK7RDateUtils::OleTimeToCTime"))
        return false;  // the record is left as the caller filled it
    return calendarTime && sim::ole::toCalendar(oleTime, *calendarTime);
}

bool CK7RDateUtils::CTimeToOleTime(const struct tm* calendarTime, double* oleTime)
{
    if (sim::takeFault("CK7RDateUtils::CTimeToOleTime"))
        return false;
    return calendarTime && oleTime && sim::ole::fromCalendar(*calendarTime, *oleTime);
}
