#pragma once
// The GL state layer in one include: the state cache, the object handles and
// the call counters. Callers need no GL header for any of it.
#include "sanegl/CallCounts.h"
#include "sanegl/Enums.h"
#include "sanegl/Objects.h"
#include "sanegl/StateCache.h"
#include "sanegl/Uniform.h"
