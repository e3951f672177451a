// How a symbol leaves a module library and which calling convention crosses
// the boundary. No other file knows either.
#pragma once

#if !defined(__i386__)
#error "module libraries are 32-bit x86 only"
#endif

// Every function the host calls or is called through: arguments pushed last to
// first, removed by the caller, one 32-bit result.
#define SEM_CDECL __attribute__((cdecl))

#if defined(_WIN32)
#define SEM_EXPORT extern "C" __declspec(dllexport)
#else
#define SEM_EXPORT extern "C" __attribute__((visibility("default")))
#endif
