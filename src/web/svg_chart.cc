#include "web/svg_chart.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "util/shortest_decimal.h"
#include "web/html.h"

namespace hostlore {
namespace {

constexpr double kWidth = 600, kHeight = 180;
constexpr double kLeft = 70, kRight = 10, kTop = 10, kBottom = 30;

// Days since 1970-01-01 of a "YYYY/MM/DD" text (any separators).
std::optional<int64_t> DayNumber(const std::string& date) {
  int year = 0, month = 0, day = 0;
  char a = 0, b = 0;
  if (std::sscanf(date.c_str(), "%4d%c%2d%c%2d", &year, &a, &month, &b, &day) != 5 || month < 1 || month > 12 ||
      day < 1 || day > 31) {
    return std::nullopt;
  }
  // The civil-from-days inverse for the proleptic Gregorian calendar.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int year_of_era = y - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<int64_t>(era) * 146097 + day_of_era - 719468;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

std::string FreeSpaceChart(const std::vector<DriveDay>& days, const std::string& label) {
  struct Point {
    int64_t day;
    double value;
    const DriveDay* source;
  };
  std::vector<Point> points;
  for (const DriveDay& day : days) {
    const std::optional<int64_t> number = DayNumber(day.date);
    if (number && day.free_mb) points.push_back({*number, *day.free_mb, &day});
  }
  if (points.empty()) return {};
  std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.day < b.day; });
  const auto [low_point, high_point] = std::minmax_element(
      points.begin(), points.end(), [](const Point& a, const Point& b) { return a.value < b.value; });
  const double low = std::min(0.0, low_point->value);
  const double high = std::max(high_point->value, low + 1);
  const double first = static_cast<double>(points.front().day);
  const double span = std::max(1.0, static_cast<double>(points.back().day) - first);
  const auto x = [&](const Point& p) { return kLeft + (static_cast<double>(p.day) - first) / span * (kWidth - kLeft - kRight); };
  const auto y = [&](double value) { return kTop + (high - value) / (high - low) * (kHeight - kTop - kBottom); };

  std::string svg = "<svg class=\"chart\" viewBox=\"0 0 600 180\" role=\"img\" aria-label=\"" + Html(label) +
                    "\"><title>" + Html(label) + "</title>";
  svg += "<line class=\"axis\" x1=\"70\" y1=\"150\" x2=\"590\" y2=\"150\"/>";
  svg += "<line class=\"axis\" x1=\"70\" y1=\"10\" x2=\"70\" y2=\"150\"/>";
  svg += "<text x=\"64\" y=\"16\" text-anchor=\"end\">" + Html(FormatShortestDecimal(high)) + " MB</text>";
  svg += "<text x=\"64\" y=\"150\" text-anchor=\"end\">" + Html(FormatShortestDecimal(low)) + " MB</text>";
  svg += "<text x=\"70\" y=\"170\">" + Html(points.front().source->date) + "</text>";
  svg += "<text x=\"590\" y=\"170\" text-anchor=\"end\">" + Html(points.back().source->date) + "</text>";
  if (points.size() == 1) {
    svg += "<circle class=\"line\" cx=\"" + Number(x(points[0])) + "\" cy=\"" + Number(y(points[0].value)) +
           "\" r=\"3\"/>";
  } else {
    svg += "<polyline class=\"line\" points=\"";
    for (const Point& point : points) svg += Number(x(point)) + "," + Number(y(point.value)) + " ";
    svg += "\"/>";
  }
  return svg + "</svg>";
}

std::string CountBar(int64_t part, int64_t whole) {
  const double width = whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0;
  return "<svg class=\"bar\" viewBox=\"0 0 100 10\" preserveAspectRatio=\"none\" aria-hidden=\"true\">"
         "<rect width=\"" + Number(width) + "\" height=\"10\"/></svg>";
}

}  // namespace hostlore
