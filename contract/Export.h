#pragma once

// Export macros of the OrvDataProxyImplTzk library.
//
// ORV_DATAPROXY_API marks the members that form the library's binary interface: the
// component mapping, the provider, the builder factory and builder, and the special
// members of IQueryablePointData<Q> for the four query records. Everything else is
// hidden (the library is built with -fvisibility=hidden).
//
// Exported class templates carry ORV_DATAPROXY_TEMPLATE_API on their declaration and
// ORV_DATAPROXY_INSTANTIATION_API on their explicit instantiations: GCC and Clang take the
// visibility from the template, Windows the export from the instantiation.
//
// ORV_DATAPROXY_INTERFACE marks the abstract interfaces of the contract. They are
// header-only, but their type information must be one and the same across modules so
// that dynamic_cast between them works in clients; on Windows they need no import.

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(OrvDataProxyImplTzk_EXPORTS)
#define ORV_DATAPROXY_API __declspec(dllexport)
#else
#define ORV_DATAPROXY_API __declspec(dllimport)
#endif
#define ORV_DATAPROXY_INTERFACE
#define ORV_DATAPROXY_TEMPLATE_API
#define ORV_DATAPROXY_INSTANTIATION_API ORV_DATAPROXY_API
#else
#define ORV_DATAPROXY_API __attribute__((visibility("default")))
#define ORV_DATAPROXY_INTERFACE __attribute__((visibility("default")))
#define ORV_DATAPROXY_TEMPLATE_API __attribute__((visibility("default")))
#define ORV_DATAPROXY_INSTANTIATION_API
#endif
