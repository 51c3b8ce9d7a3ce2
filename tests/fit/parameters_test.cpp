#include "fit/parameters.h"
#include "fit/report.h"

#include <nlohmann/json.hpp>

#include "data/errors.h"

#include <gtest/gtest.h>

namespace dravo2::fit {
namespace {

double Lower(ParameterKind kind, double v) {
    return DefaultBounds(kind, v).Lower;
}
double Upper(ParameterKind kind, double v) {
    return DefaultBounds(kind, v).Upper;
}

TEST(FitParameters, TableNamesAndFieldsAgree) {
    const auto& table = FittableParameters();
    ASSERT_EQ(table.size(), 23u);
    ParameterTexts texts;
    texts.Jbq1 = "7e-5";
    texts.Jbq2 = "8e-5";
    texts.AxisDegrees = {10, 20, 30, 40};
    texts.FieldAngleDegrees = 5;
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("M4"), '.'), 1.0);
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("t4"), '.'), 20e-9);
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("K3"), '.'), 60);
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("J3"), '.'), 0.2e-3);
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("Jbq1"), '.'), 7e-5);
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("Jbq2"), '.'), 8e-5);
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("bias"), '.'), 1e-3);
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("axis3"), '.'), 30);
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("field_angle"), '.'), 5);
    EXPECT_FALSE(ParameterIndex("J4"));

    // Written values read back exactly; angles become whole degrees within 0..90.
    SetParameterValue(texts, *ParameterIndex("K1"), 0.1 + 0.2, ',');
    EXPECT_EQ(texts.K[0], "0,30000000000000004");
    EXPECT_EQ(ParameterValue(texts, *ParameterIndex("K1"), ','), 0.1 + 0.2);
    SetParameterValue(texts, *ParameterIndex("axis2"), 44.6);
    SetParameterValue(texts, *ParameterIndex("field_angle"), 97);
    EXPECT_EQ(texts.AxisDegrees[1], 45);
    EXPECT_EQ(texts.FieldAngleDegrees, 90);
}

TEST(FitParameters, DefaultBoundsFollowTheKindAndTheValue) {
    EXPECT_DOUBLE_EQ(Lower(ParameterKind::Magnetisation, 1.5), 0.15);
    EXPECT_DOUBLE_EQ(Upper(ParameterKind::Thickness, 2e-9), 2e-8);
    EXPECT_DOUBLE_EQ(Lower(ParameterKind::Anisotropy, -50), -500);
    EXPECT_DOUBLE_EQ(Upper(ParameterKind::Anisotropy, -50), -5);
    EXPECT_EQ(Lower(ParameterKind::Anisotropy, 0), 0);
    EXPECT_EQ(Upper(ParameterKind::Anisotropy, 0), 1e4);
    EXPECT_DOUBLE_EQ(Lower(ParameterKind::Coupling, -2e-6), -2e-5);
    EXPECT_DOUBLE_EQ(Upper(ParameterKind::Coupling, -2e-6), 2e-5);
    EXPECT_EQ(Lower(ParameterKind::Bias, 0), -1e-3);
    EXPECT_EQ(Upper(ParameterKind::Bias, 0), 1e-3);
    EXPECT_EQ(Upper(ParameterKind::Angle, 17), 90);
    // No film reaches beyond 2.5 T or 100 nm by default, and no range reaches below 0.
    EXPECT_EQ(Upper(ParameterKind::Magnetisation, 1.72892), kMaxMagnetisation);
    EXPECT_EQ(Upper(ParameterKind::Thickness, 20e-9), kMaxThickness);
    EXPECT_EQ(Upper(ParameterKind::Magnetisation, 3.0), 3.0);
    EXPECT_THROW(FreeParameter(*ParameterIndex("t2"), Bounds{-1e-9, 1e-8}), ProgramError);
    EXPECT_THROW(FreeParameter(*ParameterIndex("M1"), Bounds{-0.5, 2}), ProgramError);
}

TEST(FitReport, AParameterAtItsBoundIsFlaggedAndOffersNoError) {
    EXPECT_TRUE(NearBound(-0.0269, {-0.0269, 0.0269}));
    EXPECT_TRUE(NearBound(0.02689, {-0.0269, 0.0269}));
    EXPECT_FALSE(NearBound(-2.45e-3, {-0.0269, 0.0269}));
    FitSummary summary;
    summary.MisfitAfter = 0.031;
    summary.MomentUnit = "emu";
    summary.Slope = -5.2e-11;
    FittedParameter atBound{"J1", "J/m^2", -2.69e-3, -0.0269, {-0.0269, 0.0269}, {true, 2.6e-4, ""}, true};
    FittedParameter inside{"Jbq1", "J/m^2", -1.69e-3, -1.73e-3, {-0.0169, 0.0169}, {true, 2e-5, ""}, false};
    summary.Parameters = {atBound, inside};
    summary.Correlation = {{1, -0.97}, {-0.97, 1}};
    const std::string text = SummaryText(summary);
    EXPECT_NE(text.find("J1          -0.0269 J/m^2 (from -0.00269), at bound"), std::string::npos) << text;
    EXPECT_EQ(text.find("+- 0.00026"), std::string::npos) << text;
    EXPECT_EQ(text.find("+- 2.6E-4"), std::string::npos) << text;
    EXPECT_NE(text.find("-0.00173 +- 2E-5 J/m^2"), std::string::npos) << text;
    EXPECT_NE(text.find("strongly correlated: J1 and Jbq1 (-0.97)"), std::string::npos) << text;
    EXPECT_NE(text.find("slope -5.2E-11 emu per A/m (-4.13803E-5 emu per T)"), std::string::npos) << text;
    const nlohmann::json json = SummaryJson(summary);
    EXPECT_TRUE(json["parameters"][0]["at_bound"].get<bool>());
    EXPECT_TRUE(json["parameters"][0]["standard_error"].is_null());
    EXPECT_EQ(json["parameters"][1]["standard_error"].get<double>(), 2e-5);
    EXPECT_EQ(json["correlation"][0][1].get<double>(), -0.97);
}

TEST(FitParameters, ScalingIsLinearUpToTwoDecadesAndLogarithmicBeyond) {
    const FreeParameter linear(0, DefaultBounds(ParameterKind::Magnetisation, 1.5));
    EXPECT_FALSE(linear.Logarithmic());
    EXPECT_DOUBLE_EQ(linear.FromUnit(0.5), (0.15 + 2.5) / 2);
    const FreeParameter wide(8, {1, 1e4});
    EXPECT_TRUE(wide.Logarithmic());
    EXPECT_NEAR(wide.FromUnit(0.5), 100, 1e-9);
    EXPECT_NEAR(wide.ToUnit(10), 0.25, 1e-12);
    EXPECT_EQ(wide.FromUnit(1.5), 1e4);
    EXPECT_EQ(wide.ToUnit(0.5), 0);
    const FreeParameter signedRange(12, {-1e-3, 1e-3});
    EXPECT_FALSE(signedRange.Logarithmic());
    EXPECT_DOUBLE_EQ(signedRange.ToUnit(0), 0.5);
    EXPECT_THROW(FreeParameter(0, DefaultBounds(ParameterKind::Magnetisation, 0)), ProgramError);
    EXPECT_THROW(FreeParameter(0, {2, 1}), ProgramError);
    // Bounds whose span or ratio overflows would scale every point to infinity or NaN.
    for (const Bounds bounds : {Bounds{-1e308, 1e308}, Bounds{1e-310, 1e300}, Bounds{0, INFINITY}}) {
        SCOPED_TRACE(bounds.Upper);
        EXPECT_THROW(FreeParameter(12, bounds), ProgramError);
    }
}

} // namespace
} // namespace dravo2::fit
