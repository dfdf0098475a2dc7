// source/K7R/K7RTimeframe.cpp: the timeframe classes: the time frame unit enum, K7RTimeFrame and the
// timeframe collections.
#include "Registrations.h"

void exportTimeframe()
{
}
