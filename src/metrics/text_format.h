// TTextFormat: writes metric families in the text exposition format 0.0.4
// that Prometheus scrapes: "# HELP" and "# TYPE" lines, then one sample per
// line, `name{label="value",...} value`. Label values are escaped (backslash,
// double quote, line feed), help texts too (backslash, line feed).
//
// Thread-safety: an instance is used by one thread.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "metrics/metric_types.h"

namespace velquarn {

// The Content-Type of a document in this format.
inline constexpr std::string_view kTextFormatContentType =
    "text/plain; version=0.0.4; charset=utf-8";

struct TLabel {
  std::string_view name;
  std::string_view value;
};

class TTextFormat {
 public:
  // Starts a family: its help and type lines. type is "counter", "gauge" or
  // "histogram". The samples of the family follow.
  void Family(std::string_view name, std::string_view help, std::string_view type);
  void Sample(std::string_view name, std::initializer_list<TLabel> labels, double value);
  // The samples of one histogram series: the buckets, cumulative, each with
  // an "le" label after the given labels, the +Inf bucket last, then
  // name_sum and name_count.
  void Histogram(std::string_view name, std::initializer_list<TLabel> labels,
                 std::span<const double> bounds, const THistogramSnapshot& snapshot);

  const std::string& Text() const { return text_; }

  // The value as the format writes it: the shortest text that reads back
  // as the same double, without an exponent from 1e-6 up to 1e21; "+Inf",
  // "-Inf" or "NaN".
  static std::string FormatValue(double value);
  static std::string EscapeLabelValue(std::string_view value);
  static std::string EscapeHelp(std::string_view help);

 private:
  void SampleLine(std::string_view name, std::string_view suffix,
                  std::initializer_list<TLabel> labels, const TLabel* extra, double value);

  std::string text_;
};

}  // namespace velquarn
