#include "tools/langmon-report/ink_chart.h"

#include <algorithm>
#include <vector>

#include "tools/langmon-report/html.h"

namespace langmon_report {

namespace {

constexpr double kWidth = 960, kHeight = 340;
constexpr double kLeft = 70, kRight = 20, kTop = 28, kBottom = 46;
constexpr size_t kMostPoints = 400;  // beyond this only remarkable checks get a marker

// The point past which CheckInkLevel calls a cartridge empty, by family.
constexpr uint32_t kColourHardLimit = 828000000;
constexpr uint32_t kBlackHardLimit = 909000000;

const Family kFamilies[] = {Family::Colour, Family::Black, Family::PigmentBlack, Family::Unknown};

const char* Colour(Family family) {
  switch (family) {
    case Family::Colour:
      return "#b0287a";
    case Family::Black:
      return "#1f1f1f";
    case Family::PigmentBlack:
      return "#795548";
    case Family::Unknown:
      break;
  }
  return "#7a7a7a";
}

std::string Number(double value) { return Fixed(value, 1); }

uint32_t HardLimit(Family family) {
  return family == Family::Colour ? kColourHardLimit : kBlackHardLimit;
}

struct Scale {
  size_t count;
  double top;  // spits at the top of the plot
  double X(size_t i) const {
    return kLeft +
           (static_cast<double>(i) + 0.5) * (kWidth - kLeft - kRight) / static_cast<double>(count);
  }
  double Step() const { return (kWidth - kLeft - kRight) / static_cast<double>(count); }
  double Y(double spits) const {
    return kTop + (kHeight - kTop - kBottom) * (1.0 - std::min(spits, top) / top);
  }
};

// The point's title, unescaped, in place of what `text` held.
void Tooltip(std::string& text, const InkPoint& point) {
  text.clear();
  Append(text, "job ", std::to_string(point.job));
  if (point.check != 0) Append(text, ", check ", std::to_string(point.check));
  Append(text, ", ", point.when.text, ": ", Millions(point.spits), " spits");
  if (point.limit != 0) Append(text, " of a ", Millions(point.limit), " limit");
  Append(text, " (", FamilyWords(point.family), point.familyFromLimit ? "?" : "", ")");
  Append(text, "; warn level ", std::to_string(point.levelBefore));
  if (point.levelAfter && *point.levelAfter != point.levelBefore) {
    Append(text, " → ", std::to_string(*point.levelAfter), " (", WarnLevelWords(*point.levelAfter),
           ")");
  }
}

}  // namespace

std::string WarnLevelWords(int level) {
  switch (level) {
    case 1:
      return "nothing warned";
    case 2:
      return "low: 10 % or less of the limit left";
    case 3:
      return "at the limit";
    case 4:
      return "10 % or more over the limit";
    case 5:
      return "past the hard limit: empty";
    default:
      return "level " + std::to_string(level);
  }
}

void InkChart(std::string& out, const Report& report) {
  const std::vector<InkPoint>& points = report.ink;
  if (points.empty()) {
    out += "<p class=\"empty\">The log holds no ink check.</p>\n";
    return;
  }

  Scale scale{points.size(), 1};
  double highest = 1;
  std::vector<Family> present;
  for (const InkPoint& point : points) {
    highest =
        std::max({highest, static_cast<double>(point.spits), static_cast<double>(point.limit)});
    if (std::find(present.begin(), present.end(), point.family) == present.end()) {
      present.push_back(point.family);
    }
  }
  // A hard limit is drawn when the counts come near it.
  std::vector<Family> hard;
  for (Family family : present) {
    if (family != Family::Unknown && highest > 0.7 * HardLimit(family)) {
      hard.push_back(family);
      highest = std::max(highest, static_cast<double>(HardLimit(family)));
    }
  }
  double step = 50e6;
  while (highest / step > 8) step *= 2;
  scale.top = (static_cast<int>(highest * 1.05 / step) + 1) * step;

  Append(out, "<figure class=\"chart\">\n<svg class=\"ink-chart\" viewBox=\"0 0 ", Number(kWidth),
         " ", Number(kHeight),
         "\" role=\"img\" aria-labelledby=\"ink-chart-title\" "
         "xmlns=\"http://www.w3.org/2000/svg\">\n"
         "<title id=\"ink-chart-title\">Spits used at each ink check</title>\n");

  // A band behind each job's checks.
  for (size_t i = 0; i < points.size();) {
    size_t j = i;
    while (j + 1 < points.size() && points[j + 1].job == points[i].job) ++j;
    const double x = scale.X(i) - scale.Step() / 2;
    const double width = scale.Step() * static_cast<double>(j - i + 1);
    Append(out, "<rect class=\"job-band\" x=\"", Number(x), "\" y=\"", Number(kTop), "\" width=\"",
           Number(width), "\" height=\"", Number(kHeight - kTop - kBottom), "\" fill=\"",
           points[i].job % 2 ? "#f3f5f8" : "#e8ecf2", "\"/>\n");
    if (width >= 34) {
      Append(out, "<text x=\"", Number(x + width / 2), "\" y=\"", Number(kTop - 8),
             "\" text-anchor=\"middle\" class=\"band-label\">job ", std::to_string(points[i].job),
             "</text>\n");
    }
    i = j + 1;
  }

  // Grid and axes.
  for (double value = 0; value <= scale.top + 1; value += step) {
    const std::string y = Number(scale.Y(value));
    Append(out, "<line class=\"grid\" x1=\"", Number(kLeft), "\" x2=\"", Number(kWidth - kRight),
           "\" y1=\"", y, "\" y2=\"", y, "\"/>\n<text class=\"tick\" x=\"", Number(kLeft - 6),
           "\" y=\"", Number(scale.Y(value) + 4), "\" text-anchor=\"end\">",
           Thousands(static_cast<uint64_t>(value / 1e6)), " M</text>\n");
  }
  Append(out, "<text class=\"axis\" x=\"", Number(kLeft + (kWidth - kLeft - kRight) / 2), "\" y=\"",
         Number(kHeight - 10),
         "\" text-anchor=\"middle\">pre-job checks in the order they ran, one point "
         "each</text>\n<text class=\"axis\" transform=\"translate(16 ",
         Number(kTop + (kHeight - kTop - kBottom) / 2),
         ") rotate(-90)\" text-anchor=\"middle\">spits used</text>\n");

  for (Family family : hard) {
    const std::string y = Number(scale.Y(HardLimit(family)));
    Append(out, "<line class=\"hard-limit\" x1=\"", Number(kLeft), "\" x2=\"",
           Number(kWidth - kRight), "\" y1=\"", y, "\" y2=\"", y, "\" stroke=\"", Colour(family),
           "\"/>\n<text class=\"limit-label\" x=\"", Number(kWidth - kRight - 4), "\" y=\"",
           Number(scale.Y(HardLimit(family)) - 4), "\" text-anchor=\"end\">", FamilyWords(family),
           ": empty past ", Millions(HardLimit(family)), "</text>\n");
  }

  // Cartridge changes.
  for (size_t i = 1; i < points.size(); ++i) {
    if (points[i].cartridge == points[i - 1].cartridge) continue;
    const std::string x = Number(scale.X(i) - scale.Step() / 2);
    Append(out, "<line class=\"cartridge-change\" x1=\"", x, "\" x2=\"", x, "\" y1=\"",
           Number(kTop), "\" y2=\"", Number(kHeight - kBottom),
           "\"/>\n<text class=\"change-label\" x=\"", x, "\" y=\"", Number(kHeight - kBottom - 6),
           "\" text-anchor=\"middle\">cartridge changed</text>\n");
  }

  // One series per family; its line breaks where the cartridge changes.
  std::string line, limit, tooltip;
  for (Family family : kFamilies) {
    std::vector<size_t> mine;
    for (size_t i = 0; i < points.size(); ++i) {
      if (points[i].family == family) mine.push_back(i);
    }
    if (mine.empty()) continue;
    Append(out, "<g class=\"series\" data-series=\"", FamilyName(family), "\" data-points=\"",
           std::to_string(mine.size()), "\" stroke=\"", Colour(family), "\" fill=\"",
           Colour(family), "\">\n");
    const auto flush = [&]() {
      if (!line.empty())
        Append(out, "<polyline class=\"spits\" fill=\"none\" points=\"", line, "\"/>\n");
      if (!limit.empty()) {
        Append(out, "<polyline class=\"limit\" fill=\"none\" points=\"", limit, "\"/>\n");
      }
      line.clear();
      limit.clear();
    };
    for (size_t k = 0; k < mine.size(); ++k) {
      const InkPoint& point = points[mine[k]];
      if (k > 0 &&
          (point.cartridge != points[mine[k - 1]].cartridge || mine[k] != mine[k - 1] + 1)) {
        flush();
      }
      Append(line, Number(scale.X(mine[k])), ",", Number(scale.Y(point.spits)), " ");
      if (point.limit != 0) {
        for (double dx : {-0.45, 0.45}) {
          Append(limit, Number(scale.X(mine[k]) + dx * scale.Step()), ",",
                 Number(scale.Y(point.limit)), " ");
        }
      }
    }
    flush();
    for (size_t i : mine) {
      const InkPoint& point = points[i];
      const bool warned = point.levelAfter && *point.levelAfter > point.levelBefore;
      if (points.size() > kMostPoints && !warned) continue;
      Append(out, "<circle class=\"point", warned ? " warned" : "", "\" cx=\"", Number(scale.X(i)),
             "\" cy=\"", Number(scale.Y(point.spits)), "\" r=\"", warned ? "6" : "3.5",
             "\" data-job=\"", std::to_string(point.job), "\" data-spits=\"",
             std::to_string(point.spits), "\"><title>");
      Tooltip(tooltip, point);
      AppendHtml(out, tooltip);
      out += "</title></circle>\n";
    }
    out += "</g>\n";
  }
  out += "</svg>\n";

  // The legend.
  out += "<ul class=\"legend\">\n";
  for (Family family : kFamilies) {
    size_t count = 0;
    bool guessed = false;
    for (const InkPoint& point : points) {
      if (point.family != family) continue;
      ++count;
      guessed = guessed || point.familyFromLimit;
    }
    if (count == 0) continue;
    Append(out, "<li><span class=\"swatch\" style=\"background:", Colour(family), "\"></span>",
           FamilyWords(family), " (", std::to_string(count), " check", count == 1 ? "" : "s", ")",
           guessed ? ", told by its usual limit where the log says nothing more" : "", "</li>\n");
  }
  if (report.unlisted.inkChecks > 0) {
    Append(out, "<li class=\"unlisted\">",
           Plural(report.unlisted.inkChecks, "ink check", "ink checks"),
           " not drawn: the chart shows at most ", Thousands(report.limits.inkChecks),
           ", and the latest</li>\n");
  }
  out +=
      "<li><span class=\"swatch dashed\"></span>the configured limit at each check</li>\n"
      "<li><span class=\"swatch ring\"></span>a check that raised the warn level</li>\n</ul>\n"
      "</figure>\n";
}

}  // namespace langmon_report
