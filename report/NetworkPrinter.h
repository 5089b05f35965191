// The levelling network's paged report: its drawing on the first page, then the sheets of the
// adjustment (summary, heights, observations, loops, lines between benchmarks, sections run
// twice, snooping), each paged with its headers.
#pragma once

#include <QRectF>
#include <QString>
#include <string>
#include <vector>

#include "grid/Grid.h"
#include "network/Drawing.h"

class QPainter;

namespace rendle::report {

/// The height `drawing` takes with its legend below it, in its own units.
double DrawingHeight(const network::Drawing& drawing);

/// Draws `drawing` scaled to fit `target` (device units), legend included.
void DrawNetwork(QPainter& painter, const network::Drawing& drawing, const QRectF& target);

/// Prints the report to a PDF at `path`, put in place only when whole; gives the number of
/// pages, or 0 with the cause in `error` (an existing file is then left as it was).
int PrintNetworkToPdf(const network::Drawing& drawing, const std::vector<const grid::Grid*>& sheets,
                      const std::string& path, QString* error);

}  // namespace rendle::report
