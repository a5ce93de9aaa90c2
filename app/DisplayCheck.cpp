#include "DisplayCheck.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace pruvex {

namespace {

const char* VerdictWord(Verdict verdict) {
    switch (verdict) {
    case Verdict::Pass:
        return "PASS";
    case Verdict::Warn:
        return "WARN";
    case Verdict::Fail:
        return "FAIL";
    case Verdict::Unverified:
        return "UNVERIFIED";
    }
    return "?";
}

int Count(const std::vector<CheckLine>& lines, Verdict verdict) {
    int count = 0;
    for (const CheckLine& line : lines) {
        count += line.Result == verdict ? 1 : 0;
    }
    return count;
}

std::string Plural(int count, const char* word) {
    std::string text = std::to_string(count);
    text += ' ';
    text += word;
    if (count != 1) {
        text += 's';
    }
    return text;
}

void AppendJson(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        if (static_cast<unsigned char>(c) >= 0x20) {
            out += c;
        }
    }
    out += '"';
}

} // namespace

std::string ColourText(Colour c) {
    std::string text = "(";
    text += std::to_string(c.Red);
    text += ',';
    text += std::to_string(c.Green);
    text += ',';
    text += std::to_string(c.Blue);
    text += ')';
    return text;
}

std::string ReportText(const std::vector<CheckLine>& lines) {
    std::string text;
    for (const CheckLine& line : lines) {
        char word[16];
        std::snprintf(word, sizeof word, "%-11s", VerdictWord(line.Result));
        text += word;
        text += line.Name + ": " + line.Measured;
        if (line.Result != Verdict::Pass && !line.Advice.empty()) {
            text += ". " + line.Advice;
        }
        text += "\n";
    }
    const int failures = Count(lines, Verdict::Fail);
    const int unverified = Count(lines, Verdict::Unverified);
    const int warnings = Count(lines, Verdict::Warn);
    if (failures > 0) {
        text += "verdict: FAIL, the display does not show exactly what Pruvex paints (" +
                Plural(failures, "failure");
    } else if (unverified > 0) {
        text += "verdict: UNVERIFIED, nothing failed but not everything could be checked (" +
                Plural(unverified, "check") + " unverified";
    } else {
        text += "verdict: PASS, all exact (" + Plural(warnings, "warning");
    }
    if (failures > 0 || unverified > 0) {
        text += ", " + Plural(warnings, "warning");
    }
    return text + ")\n";
}

int ReportExitStatus(const std::vector<CheckLine>& lines) {
    if (Count(lines, Verdict::Fail) > 0) {
        return 1;
    }
    return Count(lines, Verdict::Unverified) > 0 ? 2 : 0;
}

std::string ReportJson(const std::vector<CheckLine>& lines) {
    static const char* const Verdicts[] = {"PASS", "FAIL", "UNVERIFIED"};
    std::string json = "{\"ok\":true,\"verdict\":\"";
    json += Verdicts[ReportExitStatus(lines)];
    json += "\",\"checks\":[";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        json += i > 0 ? ",{\"result\":\"" : "{\"result\":\"";
        json += VerdictWord(lines[i].Result);
        json += "\",\"name\":";
        AppendJson(json, lines[i].Name);
        json += ",\"measured\":";
        AppendJson(json, lines[i].Measured);
        json += ",\"advice\":";
        AppendJson(json, lines[i].Result == Verdict::Pass ? std::string() : lines[i].Advice);
        json += "}";
    }
    return json + "]}";
}

RampDeviation CompareRampWithIdentity(const std::vector<std::uint16_t>& ramp) {
    RampDeviation deviation;
    const std::size_t n = ramp.size();
    if (n < 2) {
        return deviation;
    }
    bool within = true;
    bool shifted = (n & (n - 1)) == 0 && n <= 65536;
    int shift = 16;
    for (std::size_t k = n; k > 1; k >>= 1) {
        --shift;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double ideal = static_cast<double>(i) * 65535.0 / static_cast<double>(n - 1);
        within = within && std::fabs(ramp[i] - ideal) <= static_cast<double>(n - 1);
        shifted = shifted && ramp[i] == (i << shift);
    }
    deviation.Identity = within || shifted;
    if (deviation.Identity) {
        return deviation;
    }
    for (int level = 0; level <= 255; ++level) {
        const auto index =
            static_cast<std::size_t>(std::lround(level * static_cast<double>(n - 1) / 255.0));
        const auto shown = static_cast<int>(std::lround(ramp[index] * 255.0 / 65535.0));
        const int difference = std::abs(shown - level);
        if (difference > deviation.LargestLevels) {
            deviation.LargestLevels = difference;
        }
        if (difference != 0 && deviation.FirstLevel < 0) {
            deviation.FirstLevel = level;
        }
    }
    return deviation;
}

std::uint8_t ScaleChannel(unsigned value, int bits) {
    if (bits <= 0) {
        return 0;
    }
    const unsigned top = (1U << bits) - 1;
    return static_cast<std::uint8_t>((std::min(value, top) * 255U + top / 2) / top);
}

Colour ThroughDepth16(Colour colour) {
    return {ScaleChannel(colour.Red >> 3U, 5), ScaleChannel(colour.Green >> 2U, 6),
            ScaleChannel(colour.Blue >> 3U, 5)};
}

std::string FirstDifference(const ReadBackImage& image, const std::vector<PaintRect>& painted) {
    std::string first;
    long long bestIndex = -1;
    for (const PaintRect& rect : painted) {
        const PixelRect& p = rect.Pixels;
        for (int y = p.Top; y < p.Bottom && y < image.Height; ++y) {
            for (int x = p.Left; x < p.Right && x < image.Width; ++x) {
                const long long index = static_cast<long long>(y) * image.Width + x;
                const Colour got = image.Pixels[static_cast<std::size_t>(index)];
                if (!(got == rect.Fill)) {
                    if (bestIndex < 0 || index < bestIndex) {
                        bestIndex = index;
                        first = "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") is " +
                                ColourText(got) + ", painted " + ColourText(rect.Fill);
                    }
                    break;
                }
            }
        }
    }
    return first;
}

} // namespace pruvex
