#pragma once

#include <prometheus/metric_family.h>

#include <vector>

namespace quorvane::exporter {

// The process_* metrics every Prometheus client exports, from /proc/self: CPU seconds, resident
// and virtual memory, open and maximum file descriptors, start time, threads.
std::vector<prometheus::MetricFamily> processFamilies();

}  // namespace quorvane::exporter
