// What libc++'s headers expect of Microsoft's C run-time and Wine 8's
// headers lack, for the clang-cl check alone (cmake/clang-cl-wine.cmake
// includes this ahead of every C++ source). Declarations only: nothing is
// linked.
#ifndef OSTREVANE_WINE_GAPS_H
#define OSTREVANE_WINE_GAPS_H

// Wine has no vcruntime headers: libc++ then defines its own exception and
// type_info classes.
#define _LIBCPP_NO_VCRUNTIME 1

// winnt.h defines InterlockedCompareExchange128 under the name of a clang
// builtin, which clang 14 refuses; another name keeps it out of the way.
#define _InterlockedCompareExchange128 ostrevane_wine_InterlockedCompareExchange128

#include <time.h>

extern "C" {

// <time.h> of the Universal C run-time.
struct timespec {
    time_t tv_sec;
    long tv_nsec;
};

// <math.h>: the double and float functions Wine leaves out, and the long
// double ones (long double is double in Microsoft's ABI).
double __cdecl erfc(double);
float __cdecl erfcf(float);
double __cdecl nexttoward(double, long double);
float __cdecl nexttowardf(float, long double);

#define OSTREVANE_LONG_DOUBLE_1(name) long double __cdecl name##l(long double);
#define OSTREVANE_LONG_DOUBLE_2(name) long double __cdecl name##l(long double, long double);
OSTREVANE_LONG_DOUBLE_1(acos)
OSTREVANE_LONG_DOUBLE_1(acosh)
OSTREVANE_LONG_DOUBLE_1(asin)
OSTREVANE_LONG_DOUBLE_1(asinh)
OSTREVANE_LONG_DOUBLE_1(atan)
OSTREVANE_LONG_DOUBLE_1(atanh)
OSTREVANE_LONG_DOUBLE_2(atan2)
OSTREVANE_LONG_DOUBLE_1(cbrt)
OSTREVANE_LONG_DOUBLE_1(ceil)
OSTREVANE_LONG_DOUBLE_1(cos)
OSTREVANE_LONG_DOUBLE_1(cosh)
OSTREVANE_LONG_DOUBLE_1(erf)
OSTREVANE_LONG_DOUBLE_1(erfc)
OSTREVANE_LONG_DOUBLE_1(exp)
OSTREVANE_LONG_DOUBLE_1(exp2)
OSTREVANE_LONG_DOUBLE_1(expm1)
OSTREVANE_LONG_DOUBLE_1(fabs)
OSTREVANE_LONG_DOUBLE_2(fdim)
OSTREVANE_LONG_DOUBLE_1(floor)
OSTREVANE_LONG_DOUBLE_2(fmax)
OSTREVANE_LONG_DOUBLE_2(fmin)
OSTREVANE_LONG_DOUBLE_2(fmod)
OSTREVANE_LONG_DOUBLE_2(hypot)
OSTREVANE_LONG_DOUBLE_1(lgamma)
OSTREVANE_LONG_DOUBLE_1(log)
OSTREVANE_LONG_DOUBLE_1(log10)
OSTREVANE_LONG_DOUBLE_1(log1p)
OSTREVANE_LONG_DOUBLE_1(log2)
OSTREVANE_LONG_DOUBLE_1(logb)
OSTREVANE_LONG_DOUBLE_1(nearbyint)
OSTREVANE_LONG_DOUBLE_2(nextafter)
OSTREVANE_LONG_DOUBLE_2(nexttoward)
OSTREVANE_LONG_DOUBLE_2(pow)
OSTREVANE_LONG_DOUBLE_2(remainder)
OSTREVANE_LONG_DOUBLE_1(sin)
OSTREVANE_LONG_DOUBLE_1(sinh)
OSTREVANE_LONG_DOUBLE_1(sqrt)
OSTREVANE_LONG_DOUBLE_1(tan)
OSTREVANE_LONG_DOUBLE_1(tanh)
OSTREVANE_LONG_DOUBLE_1(tgamma)
#undef OSTREVANE_LONG_DOUBLE_1
#undef OSTREVANE_LONG_DOUBLE_2
long double __cdecl frexpl(long double, int*);
int __cdecl ilogbl(long double);
long double __cdecl ldexpl(long double, int);
long double __cdecl modfl(long double, long double*);
long double __cdecl remquol(long double, long double, int*);
long double __cdecl scalblnl(long double, long);
long double __cdecl scalbnl(long double, int);
}

#endif
