// source/K7R/K7RTransport.cpp: the K7RTransport class: the transport's process-wide settings and the
// creation of sessions.
#include "Registrations.h"

void exportTransport()
{
}
