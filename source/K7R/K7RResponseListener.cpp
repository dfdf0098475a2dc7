// source/K7R/K7RResponseListener.cpp: the AK7RResponseListener class, through which a script receives the
// trading server's responses.
#include "Registrations.h"

void exportResponseListener()
{
}
