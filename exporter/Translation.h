#pragma once

#include <prometheus/metric_family.h>

#include <Poco/DOM/Document.h>

#include <map>
#include <string>
#include <vector>

namespace quorvane::exporter {

// The metrics of one report, and the values left out because they lie outside their range.
struct Translation {
    std::vector<prometheus::MetricFamily> families;
    std::map<std::string, unsigned> dropped;  // field -> how many values of it were left out
};

// The fields whose out-of-range values are dropped and counted, each always present in
// Translation::dropped (0 when nothing was dropped).
extern const char* const kRangeCheckedFields[4];

// Translates one parsed report, read at scrapeTime (Unix seconds). A report that lacks what a
// metric is built from throws plugin::ReportError, as the reader does.
Translation translateReport(const Poco::XML::Document& report, double scrapeTime);

// The families every probe answers with, first: quorvane_up, quorvane_probe_duration_seconds and,
// for a report that was read, quorvane_probe_dropped_values.
std::vector<prometheus::MetricFamily> probeFamilies(bool up, double durationSeconds,
                                                    const std::map<std::string, unsigned>& dropped);

}  // namespace quorvane::exporter
