#pragma once
// Symbol visibility of liblumitrax: only what the public headers declare is exported.

#if defined(_WIN32)
#if defined(LUMITRAX_BUILDING_LIBRARY)
#define LUMITRAX_API __declspec(dllexport)
#else
#define LUMITRAX_API __declspec(dllimport)
#endif
#else
#define LUMITRAX_API __attribute__((visibility("default")))
#endif
