// The Recycle Bin's own context menu hands its handler a data object without a file list, and so
// do virtual items (a phone's pictures, the files inside a ZIP folder) dragged onto a folder. Only
// the first is the Recycle Bin: it is recognised by the shell ID list naming it, never by the
// file list it lacks.
#pragma once

#include <objidl.h>

// True when the data object's shell ID list holds exactly one item, the Recycle Bin.
bool NamesRecycleBin(IDataObject* dataObject);
