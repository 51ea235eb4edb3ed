// The classes this server creates: QuorvaneShlExt, the handler of files, folders and the Recycle
// Bin, and DriveWipeShlExt, the handler of drives.
#pragma once

#include "shellext/ServerModule.h"

extern ClassTableEntry ClassTable[];
