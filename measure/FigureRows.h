#pragma once

// The figures as rows of named cells, one row per ISO and channel with
// figures: the CSV's columns in their order, which the JSON output names
// the same way.

#include "measure/PhotonTransfer.h"

#include <string>
#include <variant>
#include <vector>

namespace pruvex::measure {

// Empty (unknown), a measured number, a count or a word.
using CellValue = std::variant<std::monostate, double, long long, std::string>;

struct Cell {
    std::string Name;
    CellValue Value;
};

using FigureRow = std::vector<Cell>;

// The columns' names, in order.
std::vector<std::string> FigureColumns();
// The rows, each cell under its column's name.
std::vector<FigureRow> FigureRows(const std::vector<IsoFigures>& figures);

// Beside those, the parts of the non-uniformities (the JSON output has them).
FigureRow UniformityParts(const ChannelDatasheet& datasheet);

// A cell as the CSV writes it.
std::string CellText(const CellValue& value);

} // namespace pruvex::measure
