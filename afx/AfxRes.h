// Resource types and commands of the framework that resource scripts use too: plain
// definitions, so that the resource compiler reads this header as well as C++ does.
#pragma once

// Dialog initialisation data, such as the items of a combo box, stored under its template's id.
#define RT_DLGINIT_RESOURCE 240
// A record of that data that adds a string to a combo box.
#define DLGINIT_ADDSTRING 0x0403
