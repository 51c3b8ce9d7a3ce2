#pragma once

#include "cli/scan_command.h"

namespace dravo2 {

// Draws the map of `request` into a PNG file with Qt's raster painter: a heat map with axis
// titles, units and a colour bar, or a line plot for one parameter. Throws ProgramError when
// the file cannot be written.
void DrawScanMapPng(const ScanPlotRequest& request);

} // namespace dravo2
