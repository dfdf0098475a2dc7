// source/DateTime.cpp: the converters between Python datetime values and the library's
// OLE dates.
#include "Registrations.h"

void registerDateTimeConverters()
{
}
