/* 64-bit division helpers that the compiler calls on a 32-bit processor. The build
   machine's static libgcc has them too, but compiled for a later MIPS32 revision, which
   would mark all of quarrow.tap as needing that revision; these are plain MIPS32 and are
   linked ahead of libgcc. Shift-and-subtract: slow, but the module divides 64-bit values
   rarely. Division by zero gives quotient 0 and leaves the dividend as remainder. */
#ifdef QUARROW_RT_PREFIX
/* Native test build: the same code under other names, checked against the compiler. */
#define QUARROW_RT_NAME2(prefix, name) prefix##name
#define QUARROW_RT_NAME1(prefix, name) QUARROW_RT_NAME2(prefix, name)
#define QUARROW_RT(name) QUARROW_RT_NAME1(QUARROW_RT_PREFIX, name)
#define QUARROW_RT_VISIBILITY
#else
#define QUARROW_RT(name) name
#define QUARROW_RT_VISIBILITY __attribute__((visibility("hidden")))
#endif

typedef unsigned long long u64;
typedef long long s64;

static u64 udivmod(u64 n, u64 d, u64 *remainder) {
  u64 q = 0;
  int shift = 0;
  if (d == 0 || d > n) {
    *remainder = n;
    return 0;
  }
  if ((n >> 32) == 0) { /* both fit in 32 bits: the processor divides */
    unsigned a = (unsigned)n, b = (unsigned)d;
    *remainder = a % b;
    return a / b;
  }
  /* Align the divisor's top bit below the dividend's, then subtract bit by bit. */
  while ((d >> 63) == 0 && (d << 1) <= n) {
    d <<= 1;
    ++shift;
  }
  for (; shift >= 0; --shift) {
    q <<= 1;
    if (n >= d) {
      n -= d;
      q |= 1;
    }
    d >>= 1;
  }
  *remainder = n;
  return q;
}

/* Magnitude of a signed value, also for the most negative one. */
static u64 magnitude(s64 v) { return v < 0 ? 0 - (u64)v : (u64)v; }

QUARROW_RT_VISIBILITY u64 QUARROW_RT(__udivdi3)(u64 n, u64 d);
QUARROW_RT_VISIBILITY u64 QUARROW_RT(__umoddi3)(u64 n, u64 d);
QUARROW_RT_VISIBILITY s64 QUARROW_RT(__divdi3)(s64 n, s64 d);
QUARROW_RT_VISIBILITY s64 QUARROW_RT(__moddi3)(s64 n, s64 d);

u64 QUARROW_RT(__udivdi3)(u64 n, u64 d) {
  u64 r;
  return udivmod(n, d, &r);
}

u64 QUARROW_RT(__umoddi3)(u64 n, u64 d) {
  u64 r;
  udivmod(n, d, &r);
  return r;
}

/* The quotient is truncated toward zero; the remainder takes the dividend's sign. */
s64 QUARROW_RT(__divdi3)(s64 n, s64 d) {
  u64 r;
  u64 q = udivmod(magnitude(n), magnitude(d), &r);
  return (s64)(((n < 0) != (d < 0)) ? 0 - q : q);
}

s64 QUARROW_RT(__moddi3)(s64 n, s64 d) {
  u64 r;
  udivmod(magnitude(n), magnitude(d), &r);
  return (s64)(n < 0 ? 0 - r : r);
}
