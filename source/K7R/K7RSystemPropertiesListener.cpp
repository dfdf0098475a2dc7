// source/K7R/K7RSystemPropertiesListener.cpp: the AK7RSystemPropertiesListener class, through which a script hears
// of system property changes.
#include "Registrations.h"

void exportSystemPropertiesListener()
{
}
