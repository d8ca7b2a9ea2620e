#pragma once

// Export macro of OrvDataProxyLas. The library is built with hidden visibility like every
// library of the project: what callers use carries ORV_LAS_API, and so does LasError, whose
// type identity must be one and the same in the library and in the code that catches it.

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(OrvDataProxyLas_EXPORTS)
#define ORV_LAS_API __declspec(dllexport)
#else
#define ORV_LAS_API __declspec(dllimport)
#endif
#else
#define ORV_LAS_API __attribute__((visibility("default")))
#endif
