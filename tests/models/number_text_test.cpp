// The 17-digit number text against printf's "%.17g": the boundaries of its
// short path (powers of ten and their neighbours, halves at the 17th digit,
// the edges of the exact range) and a seeded sweep of each kind of value.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include <splitmodels/number_text.h>

namespace {

std::string printed(double value) {
  char text[64];
  return {text, static_cast<std::size_t>(std::snprintf(text, sizeof text, "%.17g", value))};
}

std::string written(double value) {
  char text[splitmodels::kNumberTextSize];
  return {text, splitmodels::writeNumber17(text, value)};
}

TEST(NumberText, WritesWhatPrintfWrites) {
  std::vector<double> values{0.0,  -0.0,  1e-6,  1e-5,  1e-4, 0.1,  0.5,  2.5,   1e16,  1e17,
                             1e22, 1e23,  5e-324, 1.7e308, 99999999999999999.0, 123456789012345678.0,
                             std::ldexp(1.0, 127), std::ldexp(1.0, 127) * (1 - 0x1p-53), std::ldexp(1.0, -25),
                             INFINITY, -INFINITY, NAN};
  for (int p = -8; p <= 40; ++p)
    for (double v = std::nextafter(std::pow(10.0, p), 0), i = 0; i < 3; ++i, v = std::nextafter(v, INFINITY))
      values.push_back(v);
  std::mt19937_64 random(42);
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t r = random();
    double value;
    if (i % 3 == 0)
      std::memcpy(&value, &r, sizeof value);   // any bit pattern
    else if (i % 3 == 1)
      value = std::ldexp(static_cast<double>(r >> 11), static_cast<int>(random() % 200) - 150);
    else
      value = std::ldexp(static_cast<double>(r % (1u << 20)), -static_cast<int>(random() % 45));   // ties
    values.push_back(value);
  }
  for (double value : values) ASSERT_EQ(written(value), printed(value)) << std::hexfloat << value;
}

}  // namespace
