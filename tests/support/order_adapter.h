// The adapter of the order a test program is built for (NBFORCE_TEST_ORDER).
#pragma once

#if NBFORCE_TEST_ORDER == 4
#include "nbforce4/adapter4.h"
using Adapter = Adapter4;
#elif NBFORCE_TEST_ORDER == 6
#include "nbforce6/adapter6.h"
using Adapter = Adapter6;
#else
#include "nbforce8/adapter8.h"
using Adapter = Adapter8;
#endif
