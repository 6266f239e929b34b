// Debian's Qt source leaves out the tablet (Wintab) headers that the Windows platform plug-in
// includes; Wine's (Debian's libwine-dev, LGPL) declare the same interface, with Wine's own
// A/W macros, which MinGW's headers lack.
#pragma once
#include <windows.h>
#ifndef API
#define API WINAPI
#endif
#ifndef WINELIB_NAME_AW
#ifdef UNICODE
#define WINELIB_NAME_AW(name) name##W
#else
#define WINELIB_NAME_AW(name) name##A
#endif
#endif
#ifndef DECL_WINELIB_TYPE_AW
#define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;
#endif
#include "wine-wintab.h"
