// Marks what libDiscPilot.so exports. The library is compiled with hidden visibility, so only
// declarations carrying DISCPILOT_API (the controller class) are visible to the program.
#pragma once

#if defined(DISCPILOT_BUILDING)
#define DISCPILOT_API __attribute__((visibility("default")))
#else
#define DISCPILOT_API
#endif
