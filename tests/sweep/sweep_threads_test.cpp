#include "data/result_writer.h"
#include "support/sweep_fixture.h"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <string>
#include <thread>

namespace dravo2 {
namespace {

using testing::SweepRig;

// A Start and a Reverse of one stack; the result file of the whole table.
std::string RunLoop(const std::function<void(SweepRig&)>& configure) {
    SweepRig rig;
    configure(rig);
    rig.Start(rig.Mode);
    rig.RunBranch();
    rig.Driver.Reverse();
    rig.RunBranch();
    return ResultFileText(*rig.Simulation);
}

// Two drivers on two threads at once give byte for byte what each gives alone: no generator,
// cache or floating-point flag is shared between them.
TEST(SweepThreads, TwoSweepsAtOnceMatchTheirSequentialRuns) {
    const auto uniaxial = [](SweepRig& rig) {
        rig.Texts.Nstep = "120";
        rig.Texts.StepF = "4.0";
        rig.Texts.StartF = "-240";
    };
    const auto quartic = [](SweepRig& rig) {
        rig.Texts.Nstep = "100";
        rig.Texts.StepF = "3.0";
        rig.Texts.StartF = "-150";
        rig.Texts.UniaxialChecked = false;
        rig.Texts.QuarticChecked = true;
        rig.Texts.AxisDegrees = {30, 0, 15, 0};
        rig.Texts.FieldAngleDegrees = 20;
        rig.Mode = DisplayMode::MvHy;
    };
    const std::string aloneA = RunLoop(uniaxial);
    const std::string aloneB = RunLoop(quartic);
    ASSERT_NE(aloneA, aloneB);

    std::string parallelA;
    std::string parallelB;
    std::exception_ptr failure;
    std::thread other([&] {
        try {
            parallelB = RunLoop(quartic);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    parallelA = RunLoop(uniaxial);
    other.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
    EXPECT_EQ(parallelA, aloneA);
    EXPECT_EQ(parallelB, aloneB);
}

} // namespace
} // namespace dravo2
