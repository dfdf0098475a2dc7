// source/K7R/K7RPermissionChecker.cpp: the K7RPermissionChecker class: which trading operations an
// instrument permits.
#include "Registrations.h"

void exportPermissionChecker()
{
}
