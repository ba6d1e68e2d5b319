#include "plist/date.h"

#include <cmath>

namespace plist {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// Days from 1970-01-01 to 2001-01-01, the reference date.
constexpr int64_t kReferenceDay = 11323;
// Beyond the seconds of kMaxDateYear, yet below 2^53: whole seconds stay exact doubles.
constexpr double kSecondsCeiling = 4e15;

// Days from 1970-01-01 to the given civil date, and back: the era-based algorithms
// published by Howard Hinnant, exact for every int64_t year that does not overflow.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

unsigned DaysInMonth(int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  return m == 2 && leap ? 29 : kDays[m - 1];
}

void AppendDigits(uint64_t v, int width, std::string* out) {
  char buf[24];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (int i = n; i < width; ++i) out->push_back('0');
  while (n > 0) out->push_back(buf[--n]);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly two digits at `*pos`.
bool TwoDigits(std::string_view text, size_t* pos, unsigned* v) {
  if (*pos + 2 > text.size() || !IsDigit(text[*pos]) || !IsDigit(text[*pos + 1])) return false;
  *v = static_cast<unsigned>((text[*pos] - '0') * 10 + (text[*pos + 1] - '0'));
  *pos += 2;
  return true;
}

bool Expect(std::string_view text, size_t* pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

}  // namespace

bool FormatDate(double seconds, std::string* out) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > kSecondsCeiling) return false;
  const auto whole = static_cast<int64_t>(std::floor(seconds));
  int64_t days = whole / kSecondsPerDay;
  int64_t rest = whole % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  int64_t year;
  unsigned month, day;
  CivilFromDays(days + kReferenceDay, &year, &month, &day);
  if (year > kMaxDateYear || year < -kMaxDateYear) return false;
  if (year < 0) {
    out->push_back('-');
    AppendDigits(static_cast<uint64_t>(-year), 3, out);
  } else {
    AppendDigits(static_cast<uint64_t>(year), 4, out);
  }
  const auto r = static_cast<unsigned>(rest);
  const unsigned fields[] = {month, day, r / 3600, r / 60 % 60, r % 60};
  const char separators[] = {'-', '-', 'T', ':', ':'};
  for (int i = 0; i < 5; ++i) {
    out->push_back(separators[i]);
    AppendDigits(fields[i], 2, out);
  }
  out->push_back('Z');
  return true;
}

bool ParseDate(std::string_view text, double* seconds) {
  size_t pos = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++pos;
  int64_t year = 0;
  const size_t yearStart = pos;
  while (pos < text.size() && IsDigit(text[pos])) {
    if (pos - yearStart == 8) return false;
    year = year * 10 + (text[pos++] - '0');
  }
  if (pos == yearStart) return false;
  if (negative) year = -year;
  unsigned month, day, hour, minute, second;
  if (!Expect(text, &pos, '-') || !TwoDigits(text, &pos, &month) || !Expect(text, &pos, '-') ||
      !TwoDigits(text, &pos, &day) || !Expect(text, &pos, 'T') || !TwoDigits(text, &pos, &hour) ||
      !Expect(text, &pos, ':') || !TwoDigits(text, &pos, &minute) || !Expect(text, &pos, ':') ||
      !TwoDigits(text, &pos, &second)) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  double fraction = 0;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    const size_t start = pos;
    // Up to 15 digits make an exact integer numerator and an exact power-of-ten
    // denominator, so the quotient is correctly rounded; later digits cannot matter.
    uint64_t numerator = 0;
    double denominator = 1;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
      if (pos - start < 15) {
        numerator = numerator * 10 + static_cast<uint64_t>(text[pos] - '0');
        denominator *= 10;
      }
    }
    if (pos == start) return false;
    fraction = static_cast<double>(numerator) / denominator;
  }
  if (!Expect(text, &pos, 'Z') || pos != text.size()) return false;
  const int64_t days = DaysFromCivil(year, month, day) - kReferenceDay;
  const int64_t whole = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  *seconds = static_cast<double>(whole) + fraction;
  return true;
}

}  // namespace plist
