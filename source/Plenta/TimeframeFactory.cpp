// source/Plenta/TimeframeFactory.cpp: the TimeframeFactory class, which builds the timeframes of history
// requests.
#include "Registrations.h"

void exportTimeframeFactory()
{
}
