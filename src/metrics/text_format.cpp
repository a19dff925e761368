#include "metrics/text_format.h"

#include <charconv>
#include <cmath>

namespace velquarn {

std::string TTextFormat::FormatValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  // Plain decimals where they stay short: bucket bounds are label values,
  // and a query names them as le="0.0001", which the shortest form would
  // spell "1e-04".
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0 || (magnitude >= 1e-6 && magnitude < 1e21);
  char buffer[400];
  const auto result =
      plain ? std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed)
            : std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

std::string TTextFormat::EscapeLabelValue(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string TTextFormat::EscapeHelp(std::string_view help) {
  std::string escaped;
  escaped.reserve(help.size());
  for (char c : help) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

void TTextFormat::Family(std::string_view name, std::string_view help, std::string_view type) {
  text_ += "# HELP ";
  text_ += name;
  text_ += ' ';
  text_ += EscapeHelp(help);
  text_ += "\n# TYPE ";
  text_ += name;
  text_ += ' ';
  text_ += type;
  text_ += '\n';
}

void TTextFormat::SampleLine(std::string_view name, std::string_view suffix,
                             std::initializer_list<TLabel> labels, const TLabel* extra,
                             double value) {
  text_ += name;
  text_ += suffix;
  if (labels.size() > 0 || extra != nullptr) {
    char separator = '{';
    auto append = [&](const TLabel& label) {
      text_ += separator;
      text_ += label.name;
      text_ += "=\"";
      text_ += EscapeLabelValue(label.value);
      text_ += '"';
      separator = ',';
    };
    for (const TLabel& label : labels) append(label);
    if (extra != nullptr) append(*extra);
    text_ += '}';
  }
  text_ += ' ';
  text_ += FormatValue(value);
  text_ += '\n';
}

void TTextFormat::Sample(std::string_view name, std::initializer_list<TLabel> labels,
                         double value) {
  SampleLine(name, "", labels, nullptr, value);
}

void TTextFormat::Histogram(std::string_view name, std::initializer_list<TLabel> labels,
                            std::span<const double> bounds, const THistogramSnapshot& snapshot) {
  uint64_t cumulative = 0;
  for (size_t i = 0; i <= bounds.size(); ++i) {
    if (i < snapshot.counts.size()) cumulative += snapshot.counts[i];
    const std::string bound = i < bounds.size() ? FormatValue(bounds[i]) : "+Inf";
    const TLabel le{"le", bound};
    SampleLine(name, "_bucket", labels, &le, static_cast<double>(cumulative));
  }
  SampleLine(name, "_sum", labels, nullptr, snapshot.sum);
  SampleLine(name, "_count", labels, nullptr, static_cast<double>(cumulative));
}

}  // namespace velquarn
