// source/K7R/K7RSessionStatus.cpp: the session status listener class AK7RSessionStatus and its enum
// K7RSessionStatus, through which a script follows its session's state.
#include "Registrations.h"

void exportSessionStatus()
{
}
