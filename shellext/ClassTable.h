// The classes this server creates: one, QuorvaneShlExt.
#pragma once

#include "shellext/ServerModule.h"

extern ClassTableEntry ClassTable[];
