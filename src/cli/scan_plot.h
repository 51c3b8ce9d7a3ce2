#pragma once

#include "cli/scan_command.h"

namespace dravo2 {

// Draws the map of `request` with Qt's painter into a PNG, SVG or PDF file (by the extension of
// its path): a heat map with axis titles, units and a colour bar, or a line plot for one
// parameter. Throws ProgramError when the map cannot be drawn or the file cannot be written, and
// returns the note of the write.
WriteNote DrawScanMap(const ScanPlotRequest& request);

} // namespace dravo2
