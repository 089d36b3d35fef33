// Exact decimal digits of binary floating values, correctly rounded (ties to
// even) to a number of significant digits or of digits after the point.
#pragma once

#include <cstdint>

enum class FloatClass : uint8_t { kZero, kFinite, kInfinite, kNaN };

// A value split into sign and magnitude mantissa * 2^exponent.  The mantissa
// has at most 113 bits, which covers double, x87 extended and binary128.
struct FloatParts {
  FloatClass cls;
  bool negative;
  int exponent;
  unsigned __int128 mantissa;
};

FloatParts FloatPartsOfDouble(double value);
FloatParts FloatPartsOfLongDouble(long double value);

// Significant digits of a rounded finite value: digits[0, count) followed by
// implied zeros; value = 0.d1d2d3... * 10^decpt.
struct DecimalDigits {
  const char *digits;
  int count;
  int decpt;
};

enum class DigitMode : uint8_t { kSignificant, kAfterPoint };

// Room the digit generator needs for a request; larger requests than the
// caller's buffer holds must use a bigger one (only long double gets there).
int DigitBufferSize(const FloatParts &value, DigitMode mode, int wanted);

// Rounds a finite non-zero value to `wanted` significant digits (>= 1) or to
// `wanted` digits after the point (>= 0).  buffer must hold DigitBufferSize
// bytes.  In kAfterPoint mode a result of zero has count 0 and decpt -wanted.
DecimalDigits FloatDigits(const FloatParts &value, DigitMode mode, int wanted, char *buffer);
