#include "measure/FigureRows.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace pruvex::measure {

namespace {

CellValue Known(double value, bool known) {
    return known && std::isfinite(value) ? CellValue(value) : CellValue();
}

FigureRow Row(const IsoFigures& iso, int channel) {
    const auto ch = static_cast<std::size_t>(channel);
    const ChannelFigures& f = iso.Channels[ch];
    const ChannelDatasheet& d = iso.Datasheet[ch];
    const bool gain = f.Gain > 0;
    const bool read = f.ReadNoiseDn > 0;
    const double white = d.WhiteDn > 0 ? d.WhiteDn : f.Range;
    return {
        {"iso", iso.Iso},
        {"channel", std::string(ChannelName(channel, iso.Monochrome))},
        {"frames", static_cast<long long>(iso.Frames)},
        {"squares", static_cast<long long>(f.Squares)},
        {"gain_e_per_dn", Known(f.Gain, gain)},
        {"read_noise_dn", Known(f.ReadNoiseDn, read)},
        {"read_noise_e", Known(f.ReadNoiseE, read && gain)},
        {"full_well_e", Known(f.FullWellE, gain)},
        {"dr_ev", Known(f.DynamicRangeEv, read)},
        {"read_noise_from", std::string(f.ReadNoiseFromDark ? "dark" : "fit")},
        {"dsnu_e", Known(d.DsnuE.Total, d.DsnuE.Valid)},
        {"prnu_pct", Known(d.PrnuPct.Total, d.PrnuPct.Valid)},
        {"linearity_error_pct", Known(d.Line.ErrorPct, d.Line.Valid)},
        {"white_dn", Known(white, white > 0)},
        {"white_from", std::string(d.WhiteMeasured ? "measured" : "file")},
        {"gain_stage",
         d.GainStage > 0 ? CellValue(static_cast<long long>(d.GainStage)) : CellValue()},
        {"digital_gain", static_cast<long long>(d.DigitalGain)},
    };
}

} // namespace

std::vector<std::string> FigureColumns() {
    std::vector<std::string> names;
    for (const Cell& cell : Row(IsoFigures{}, 0)) {
        names.push_back(cell.Name);
    }
    return names;
}

std::vector<FigureRow> FigureRows(const std::vector<IsoFigures>& figures) {
    std::vector<FigureRow> rows;
    for (const IsoFigures& iso : figures) {
        for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
            if (!iso.Channels[static_cast<std::size_t>(ch)].TooFew) {
                rows.push_back(Row(iso, ch));
            }
        }
    }
    return rows;
}

FigureRow UniformityParts(const ChannelDatasheet& datasheet) {
    const NonUniformity& dsnu = datasheet.DsnuE;
    const NonUniformity& prnu = datasheet.PrnuPct;
    return {
        {"dsnu_row_e", Known(dsnu.Row, dsnu.Valid)},
        {"dsnu_column_e", Known(dsnu.Column, dsnu.Valid)},
        {"dsnu_pixel_e", Known(dsnu.Pixel, dsnu.Valid)},
        {"prnu_row_pct", Known(prnu.Row, prnu.Valid)},
        {"prnu_column_pct", Known(prnu.Column, prnu.Valid)},
        {"prnu_pixel_pct", Known(prnu.Pixel, prnu.Valid)},
    };
}

std::string CellText(const CellValue& value) {
    if (const auto* number = std::get_if<double>(&value)) {
        std::array<char, 32> text{};
        std::snprintf(text.data(), text.size(), "%.6g", *number);
        return text.data();
    }
    if (const auto* count = std::get_if<long long>(&value)) {
        return std::to_string(*count);
    }
    if (const auto* word = std::get_if<std::string>(&value)) {
        return *word;
    }
    return {};
}

} // namespace pruvex::measure
