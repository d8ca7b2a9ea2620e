#pragma once

// Export macro of OrvGeometry. Every library of the reference host is built with hidden
// visibility: a class or function used from another library carries this macro, and so
// does every class that takes part in dynamic_cast or typeid across library boundaries
// (templates included), or the two sides would see two distinct type identities.
// The build of the library itself defines ORV_GEOMETRY_BUILDING.

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(ORV_GEOMETRY_BUILDING)
#define ORV_GEOMETRY_API __declspec(dllexport)
#else
#define ORV_GEOMETRY_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define ORV_GEOMETRY_API __attribute__((visibility("default")))
#else
#define ORV_GEOMETRY_API
#endif
