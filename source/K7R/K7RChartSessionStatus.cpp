// source/K7R/K7RChartSessionStatus.cpp: the chart session status listener class AK7RChartSessionStatus and
// its enum K7RChartSessionStatus.
#include "Registrations.h"

void exportChartSessionStatus()
{
}
