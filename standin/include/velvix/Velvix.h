// Velvix trading library: everything a caller may use, in one include.
#pragma once

#include "velvix/K7RBase.h"
#include "velvix/K7REnums.h"
#include "velvix/K7RTables.h"
#include "velvix/K7RRequests.h"
#include "velvix/K7RSession.h"
