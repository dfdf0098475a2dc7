// source/K7R/K7RSession.cpp: the K7RSession class with its descriptors, commissions, rollover and
// time converter.
#include "Registrations.h"

void exportSession()
{
}
