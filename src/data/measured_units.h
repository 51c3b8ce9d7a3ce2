#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dravo2 {
inline namespace data {

// The units a measured field may be given in; mT and T are those of mu0 H.
enum class FieldUnit { AmperePerMetre, KiloAmperePerMetre, Oersted, MilliTesla, Tesla };

inline constexpr FieldUnit kFieldUnits[] = {FieldUnit::AmperePerMetre, FieldUnit::KiloAmperePerMetre,
                                            FieldUnit::Oersted, FieldUnit::MilliTesla, FieldUnit::Tesla};

// "A/m", "kA/m", "Oe", "mT", "T".
std::string FieldUnitName(FieldUnit unit);

// The factor that turns a field in `unit` into A/m: 1 Oe = 1000 / (4 pi) A/m, mu0 H of 1 T is
// 1 / mu0 A/m with mu0 = 4 pi 1e-7 V s / (A m).
double FieldUnitToAmperePerMetre(FieldUnit unit);

// A unit text as a header writes it ("Oe", "(kA/m)", "[mT]", "tesla", ...), case ignored;
// nothing where it names no field unit.
std::optional<FieldUnit> FieldUnitFromText(std::string_view text);

// The measured moment's unit in A m^2 from a unit text ("emu" 1e-3, "A m2", "A m^2", "Am2", "A·m²"
// 1), case ignored; nothing where it names no moment unit.
std::optional<double> MomentUnitFromText(std::string_view text);

// The factor that turns a frequency in the unit of a text ("Hz", "kHz", "MHz", "GHz", also bracketed
// as a header writes it, case ignored) into Hz; nothing where it names no frequency unit.
std::optional<double> FrequencyUnitFromText(std::string_view text);

// A sample area with its unit ("0.2947cm2", "29.47 mm2", "2.947e-5m2", also "cm^2"), in m^2;
// nothing unless it is a positive finite number with one of these units.
std::optional<double> SampleAreaFromText(std::string_view text);

// "emu" or "A m2" for a moment unit in A m^2 (1e-3 or 1); a plain number otherwise.
std::string MomentUnitName(double unit);

} // namespace data
} // namespace dravo2
