#include "metrics/text_format.h"

#include <gtest/gtest.h>

#include <limits>

namespace velquarn {
namespace {

TEST(TextFormat, LabelValuesEscapeBackslashQuoteAndLineFeed) {
  EXPECT_EQ(TTextFormat::EscapeLabelValue(R"(a\b"c)"
                                          "\nd"),
            R"(a\\b\"c\nd)");
  EXPECT_EQ(TTextFormat::EscapeLabelValue("plain ok"), "plain ok");
  TTextFormat out;
  out.Sample("m", {{"section", "x\"y"}, {"b", "z"}}, 3);
  EXPECT_EQ(out.Text(), "m{section=\"x\\\"y\",b=\"z\"} 3\n");
}

TEST(TextFormat, HelpEscapesBackslashAndLineFeedButKeepsQuotes) {
  TTextFormat out;
  out.Family("m_total", "a \"b\" \\ c\nd", "counter");
  EXPECT_EQ(out.Text(), "# HELP m_total a \"b\" \\\\ c\\nd\n# TYPE m_total counter\n");
}

TEST(TextFormat, ValuesReadBackExactlyAndSpellInfinityAndNaN) {
  EXPECT_EQ(TTextFormat::FormatValue(0), "0");
  EXPECT_EQ(TTextFormat::FormatValue(42), "42");
  EXPECT_EQ(TTextFormat::FormatValue(0.0001), "0.0001");
  EXPECT_EQ(TTextFormat::FormatValue(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(TTextFormat::FormatValue(0.00025), "0.00025");
  EXPECT_EQ(TTextFormat::FormatValue(1796734155.25), "1796734155.25");
  EXPECT_EQ(TTextFormat::FormatValue(1e300), "1e+300");
  EXPECT_EQ(TTextFormat::FormatValue(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(TTextFormat::FormatValue(-std::numeric_limits<double>::infinity()), "-Inf");
  EXPECT_EQ(TTextFormat::FormatValue(std::numeric_limits<double>::quiet_NaN()), "NaN");
  TTextFormat out;
  out.Sample("m", {}, 7);
  EXPECT_EQ(out.Text(), "m 7\n");
}

TEST(TextFormat, HistogramBucketsAreCumulativeEndWithInfThenSumAndCount) {
  static constexpr double kBounds[] = {0.5, 1, 2.5};
  THistogram histogram(kBounds);
  histogram.Observe(0.1);
  histogram.Observe(0.5);  // on a bound: that bound's bucket
  histogram.Observe(2);
  histogram.Observe(100);  // above every bound: +Inf only
  TTextFormat out;
  out.Histogram("d_seconds", {{"command", "get"}}, histogram.Bounds(), histogram.Snapshot());
  EXPECT_EQ(out.Text(),
            "d_seconds_bucket{command=\"get\",le=\"0.5\"} 2\n"
            "d_seconds_bucket{command=\"get\",le=\"1\"} 2\n"
            "d_seconds_bucket{command=\"get\",le=\"2.5\"} 3\n"
            "d_seconds_bucket{command=\"get\",le=\"+Inf\"} 4\n"
            "d_seconds_sum{command=\"get\"} 102.6\n"
            "d_seconds_count{command=\"get\"} 4\n");
}

TEST(TextFormat, EmptyHistogramStillListsEveryBucket) {
  THistogram histogram(DurationBuckets());
  TTextFormat out;
  out.Histogram("d", {}, histogram.Bounds(), histogram.Snapshot());
  EXPECT_NE(out.Text().find("d_bucket{le=\"0.0001\"} 0\n"), std::string::npos);
  EXPECT_NE(out.Text().find("d_bucket{le=\"60\"} 0\n"), std::string::npos);
  EXPECT_NE(out.Text().find("d_bucket{le=\"+Inf\"} 0\nd_sum 0\nd_count 0\n"), std::string::npos);
}

TEST(MetricTypes, GaugeHighWaterMarkOnlyRises) {
  TGauge peak;
  peak.RaiseTo(3);
  peak.RaiseTo(1);
  EXPECT_EQ(peak.Value(), 3);
  TGauge gauge;
  EXPECT_EQ(gauge.Add(2), 2);
  EXPECT_EQ(gauge.Add(-3), -1);
}

TEST(MetricTypes, DurationBucketsRunFrom100MicrosecondsTo60SecondsAscending) {
  const auto bounds = DurationBuckets();
  ASSERT_FALSE(bounds.empty());
  EXPECT_EQ(bounds.front(), 0.0001);
  EXPECT_EQ(bounds.back(), 60);
  for (size_t i = 1; i < bounds.size(); ++i) EXPECT_LT(bounds[i - 1], bounds[i]);
}

}  // namespace
}  // namespace velquarn
