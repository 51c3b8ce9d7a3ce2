#include "data/errors.h"
#include "engine/parameter_registry.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace dravo2 {
namespace {

// Every key is unique, its default reads, and the value set through its accessor reads back
// the same; a value printed as the shortest decimal of its double and given back as a number
// lands on the same double.
TEST(ParameterRegistry, EveryKeyRoundTrips) {
    std::set<std::string_view> keys;
    for (const ParameterEntry& entry : ParameterRegistry()) {
        SCOPED_TRACE(std::string(entry.Key));
        EXPECT_TRUE(keys.insert(entry.Key).second);
        EXPECT_EQ(FindParameter(entry.Key), &entry);
        ParameterSet set;
        const Real value = ParseParameter(entry, entry.DefaultText);
        entry.Set(set, value);
        const Real back = entry.Get(set);
        if (entry.Form == ValueForm::Degrees) {
            EXPECT_EQ(static_cast<double>(back), static_cast<double>(value));
        } else {
            EXPECT_EQ(back, value);
        }
        const double number = static_cast<double>(back);
        entry.Set(set, NumberAsTyped(entry, number));
        EXPECT_EQ(static_cast<double>(entry.Get(set)), number);
    }
    EXPECT_EQ(FindParameter("mode"), nullptr);
}

TEST(ParameterRegistry, DefaultBoundsContainTheDefaults) {
    const ParameterSet defaults = DefaultParameters();
    int fittable = 0;
    for (const ParameterEntry& entry : ParameterRegistry()) {
        if (!entry.Fittable()) {
            continue;
        }
        SCOPED_TRACE(std::string(entry.Key));
        ++fittable;
        const double value = static_cast<double>(entry.Get(defaults));
        const Bounds bounds = DefaultBounds(entry.Kind, value);
        EXPECT_LE(bounds.Lower, value);
        EXPECT_GE(bounds.Upper, value);
        EXPECT_LT(bounds.Lower, bounds.Upper);
    }
    EXPECT_EQ(fittable, 23);
}

TEST(ParameterRegistry, TypedValuesAreCheckedWithTheFieldsMessages) {
    const struct {
        const char* key;
        const char* text;
        const char* message;
    } cases[] = {
        {"M1", "1,5", "'1,5' is not a valid floating point value"},
        {"steps", "2.5", "'2.5' is not a valid integer value"},
        {"axis2", "91", "'91' is not a whole number of degrees from 0 to 90"},
        {"aniso", "XY", "'XY' is not an anisotropy form (UA or QU)"},
        {"solver", "fast", "'fast' is not a solver (descent or newton)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        try {
            ParseParameter(Parameter(c.key), c.text);
            ADD_FAILURE() << "accepted";
        } catch (const ProgramError& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
    EXPECT_EQ(ParseParameter(Parameter("aniso"), "QU"), static_cast<Real>(AnisotropyForm::Quartic));
    // A number given to an extended parameter stands for its shortest decimal text, as typed.
    EXPECT_EQ(NumberAsTyped(Parameter("K1"), 0.1), 0.1L);
    EXPECT_EQ(NumberAsTyped(Parameter("axis1"), 45.6), 46);
}

} // namespace
} // namespace dravo2
