#include "measure/FigureRows.h"
#include "measure/Outputs.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

namespace pruvex::measure {

namespace {

using Json = nlohmann::ordered_json;

Json ToJson(const CellValue& value) {
    if (const auto* number = std::get_if<double>(&value)) {
        return *number;
    }
    if (const auto* count = std::get_if<long long>(&value)) {
        return *count;
    }
    if (const auto* word = std::get_if<std::string>(&value)) {
        return *word;
    }
    return nullptr;
}

// The datasheet of the row's channel, found by ISO and channel name.
const ChannelDatasheet& DatasheetOf(const std::vector<IsoFigures>& figures, const FigureRow& row) {
    const double iso = std::get<double>(row.at(0).Value);
    const std::string& channel = std::get<std::string>(row.at(1).Value);
    const auto at = std::find_if(figures.begin(), figures.end(),
                                 [iso](const IsoFigures& f) { return f.Iso == iso; });
    const int ch = channel == "G" ? 1 : channel == "B" ? 2 : 0;
    return at->Datasheet[static_cast<std::size_t>(ch)];
}

double Number(const Json& row, const char* key) {
    const auto at = row.find(key);
    return at != row.end() && at->is_number() ? at->get<double>() : 0.0;
}

int ChannelIndex(const std::string& name, bool& monochrome) {
    monochrome = name == "Y";
    const std::string names = "RGB";
    return monochrome ? 0 : static_cast<int>(names.find(name));
}

// A row of the file into the figures of its ISO and channel.
void ReadRow(const Json& row, std::vector<IsoFigures>& figures) {
    bool mono = false;
    const int ch = ChannelIndex(row.at("channel").get<std::string>(), mono);
    if (ch < 0) {
        throw std::invalid_argument("a row's channel is not R, G, B or Y");
    }
    const double iso = row.at("iso").get<double>();
    auto at = std::find_if(figures.begin(), figures.end(),
                           [iso](const IsoFigures& f) { return f.Iso == iso; });
    if (at == figures.end()) {
        IsoFigures added;
        added.Iso = iso;
        added.Monochrome = mono;
        for (ChannelFigures& f : added.Channels) {
            f.TooFew = true;
        }
        at = figures.insert(
            std::upper_bound(figures.begin(), figures.end(), iso,
                             [](double i, const IsoFigures& f) { return i < f.Iso; }),
            added);
    }
    ChannelFigures& f = at->Channels[static_cast<std::size_t>(ch)];
    f.TooFew = false;
    f.Squares = static_cast<int>(Number(row, "squares"));
    f.Gain = Number(row, "gain_e_per_dn");
    f.ReadNoiseDn = Number(row, "read_noise_dn");
    f.ReadNoiseE = Number(row, "read_noise_e");
    f.FullWellE = Number(row, "full_well_e");
    f.DynamicRangeEv = Number(row, "dr_ev");
    ChannelDatasheet& d = at->Datasheet[static_cast<std::size_t>(ch)];
    d.DsnuE = {row.value("dsnu_e", Json()).is_number(), Number(row, "dsnu_e"),
               Number(row, "dsnu_row_e"), Number(row, "dsnu_column_e"),
               Number(row, "dsnu_pixel_e")};
    d.PrnuPct = {row.value("prnu_pct", Json()).is_number(), Number(row, "prnu_pct"),
                 Number(row, "prnu_row_pct"), Number(row, "prnu_column_pct"),
                 Number(row, "prnu_pixel_pct")};
    d.WhiteDn = Number(row, "white_dn");
    d.WhiteMeasured = row.value("white_from", Json()) == "measured";
    d.GainStage = static_cast<int>(Number(row, "gain_stage"));
    d.DigitalGain = std::max(1, static_cast<int>(Number(row, "digital_gain")));
}

} // namespace

std::string CameraName::Label() const {
    if (Make.empty() && Model.empty()) {
        return "unknown camera";
    }
    if (Make.empty() || Model.rfind(Make, 0) == 0) {
        return Model;
    }
    return Model.empty() ? Make : Make + " " + Model;
}

std::string Today() {
    const auto days = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    const std::chrono::year_month_day date{days};
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text.data();
}

void WriteJson(std::ostream& out, const RunFacts& facts, const std::vector<IsoFigures>& figures) {
    Json rows = Json::array();
    for (const FigureRow& row : FigureRows(figures)) {
        Json object = Json::object();
        for (const Cell& cell : row) {
            object[cell.Name] = ToJson(cell.Value);
        }
        for (const Cell& cell : UniformityParts(DatasheetOf(figures, row))) {
            object[cell.Name] = ToJson(cell.Value);
        }
        rows.push_back(std::move(object));
    }
    const Json file = {
        {"camera", {{"make", facts.Camera.Make}, {"model", facts.Camera.Model}}},
        {"libraw", facts.LibRaw},
        {"rows", std::move(rows)},
    };
    out << file.dump(2) << '\n';
}

bool ReadJson(std::istream& in, CameraFigures& camera, std::string& error) {
    try {
        const Json file = Json::parse(in);
        camera.Facts.Camera.Make = file.at("camera").value("make", "");
        camera.Facts.Camera.Model = file.at("camera").value("model", "");
        camera.Facts.LibRaw = file.value("libraw", "");
        camera.Figures.clear();
        for (const Json& row : file.at("rows")) {
            ReadRow(row, camera.Figures);
        }
    } catch (const std::exception& e) {
        error = std::string("not the JSON figures of pruvex-measure --json (") + e.what() + ")";
        return false;
    }
    if (camera.Figures.empty()) {
        error = "no figures in it";
        return false;
    }
    return true;
}

} // namespace pruvex::measure
