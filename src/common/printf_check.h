// Lets the compiler check printf-style calls. MinGW's C99 printf family
// is the GNU archetype, not the Microsoft one.
#pragma once

#ifdef __MINGW32__
#define PRINTF_CHECK(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define PRINTF_CHECK(fmt, args) __attribute__((format(printf, fmt, args)))
#endif
