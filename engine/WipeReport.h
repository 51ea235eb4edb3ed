// The texts a free-space wipe shows: sizes, counts, rates and times as the user reads them, the
// method, the one result line (the final box and the command line) and the box of failures.
#pragma once

#include "core/ShredSettings.h"
#include "core/WipeJob.h"

#include <windows.h>

#include <cstdint>
#include <string>

// "512 bytes", "48.0 KB", "12.3 GB": units of 1024, one decimal, as Explorer shows sizes.
std::string ByteCountText(uint64_t bytes);
// "48,211".
std::string CountText(uint64_t count);
// "152.3 MB/s".
std::string RateText(double bytesPerSecond);
// "less than a minute", "about 4 minutes", "about 2 hours 5 minutes".
std::string DurationText(double seconds);
// "Cryptographically strong random data, 3 passes", "Gutmann - 35 passes".
std::string MethodText(const ShredSettings& settings);
// The number of passes the wipe writes over every byte of the free space.
int PassCountOf(const ShredSettings& settings);
// The system's text for an error code, without its full stop, and the code.
std::string SystemErrorText(DWORD error);

// One line, for the final box and the command line:
//   "Free space on N: wiped: 12.3 GB, 48,211 file records"
std::string WipeResultLine(const WipeResult& result);
// The final box's text: the result line when the wipe completed; every failure, then the result
// line, when something failed; the refusal; nothing after a cancel with no failure.
std::string WipeResultBox(const WipeResult& result);
