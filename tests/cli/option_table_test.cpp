#include "cli/command_outcome.h"
#include "cli/option_table.h"
#include "data/errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dravo2 {
namespace {

// A table of one option of every value kind, recording what each one took.
struct Recorded {
    bool Switch = false;
    std::string Text;
    std::string Path;
    std::vector<std::string> Paths;
    int Repeats = 0;
};

OptionTable TableOf(Recorded& taken) {
    OptionTable table;
    table.Add({{"--switch", "-s"}, OptionValue::None, [&taken](const std::string&) { taken.Switch = true; }});
    table.Add({{"--text"}, OptionValue::Text, [&taken](const std::string& value) {
                   if (value == "bad") {
                       throw ProgramError("'bad' is refused");
                   }
                   taken.Text = value;
               }});
    table.Add({{"--path"}, OptionValue::Path, [&taken](const std::string& value) { taken.Path = value; }});
    table.Add({{"--paths"}, OptionValue::Paths, [&taken](const std::string& value) { taken.Paths.push_back(value); }});
    table.Add(
        CommandOption{{"--again"}, OptionValue::None, [&taken](const std::string&) { ++taken.Repeats; }}.Repeated());
    return table;
}

// Reads `args` as a command would, the words no option takes collected in `rest`.
void ParseAll(OptionTable& table, const std::vector<std::string>& args, std::vector<std::string>& rest) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!table.Take(args, i)) {
            rest.push_back(args[i]);
        }
    }
}

TEST(OptionTable, TakesEveryKindAndLeavesOtherWords) {
    Recorded taken;
    OptionTable table = TableOf(taken);
    std::vector<std::string> rest;
    ParseAll(table,
             {"KEY=1", "-s", "--text", "-x", "--path", "a b", "--paths", "p1", "p2", "--again", "--again", "--other"},
             rest);
    EXPECT_TRUE(taken.Switch);
    EXPECT_EQ(taken.Text, "-x"); // a value may start with '-'
    EXPECT_EQ(taken.Path, "a b");
    EXPECT_EQ(taken.Paths, (std::vector<std::string>{"p1", "p2"}));
    EXPECT_EQ(taken.Repeats, 2);
    EXPECT_EQ(rest, (std::vector<std::string>{"KEY=1", "--other"}));
    EXPECT_TRUE(table.Given("--switch"));
    EXPECT_FALSE(table.Only([](const std::string& name) { return name == "--switch"; }).Given("--switch"));
}

TEST(OptionTable, RefusesWithTheCommandsMessages) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--text"}, "Option --text needs a value"},
        {{"--path"}, "Option --path needs a value"},
        {{"--path", ""}, "Option --path needs a file name"},
        {{"--paths", "a", ""}, "Option --paths needs file names, not an empty one"},
        {{"--text", "bad"}, "'bad' is refused"},
        {{"-s", "--switch"}, "Option --switch is given twice"},
        {{"--text", "a", "--text"}, "Option --text is given twice"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args.back());
        Recorded taken;
        OptionTable table = TableOf(taken);
        std::vector<std::string> rest;
        try {
            ParseAll(table, args, rest);
            ADD_FAILURE() << "no refusal";
        } catch (const ProgramError& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
}

TEST(OptionTable, HelpListsTheListedOptionsOfASection) {
    OptionTable table;
    table.Add(CommandOption{{"-a"}, OptionValue::None, [](const std::string&) {}}.Listed("-a", "short\nsecond"));
    table.Add(CommandOption{{"--long"}, OptionValue::Text, [](const std::string&) {}}.Listed("--long VALUE", "long"));
    table.Add(CommandOption{{"--two"}, OptionValue::Text, [](const std::string&) {}}.Listed("--two X\n[--y]", "two"));
    table.Add(CommandOption{{"--other"}, OptionValue::None, [](const std::string&) {}}.Listed("--other", "o", "s2"));
    table.Add({{"--hidden"}, OptionValue::None, [](const std::string&) {}});
    EXPECT_EQ(table.HelpText("", {8, false}), "  -a    short\n"
                                              "        second\n"
                                              "  --long VALUE  long\n"
                                              "  --two X\n"
                                              "        [--y]\n"
                                              "        two\n");
    EXPECT_EQ(table.HelpText("", {8, true}).substr(29, 28), "  --long VALUE\n        long\n");
    EXPECT_EQ(table.HelpText("s2", {10, false}), "  --other o\n");
}

// The options each command lists in --help are those it takes: every option named at the start
// of a help line is accepted (a refusal of its value is fine, "Unknown argument" is not).
TEST(OptionTable, EveryOptionTheSweepHelpListsIsTaken) {
    const testing::Outcome help = testing::RunCommand({"--help"});
    ASSERT_EQ(help.status, 0);
    std::size_t listed = 0;
    for (std::size_t at = help.out.find("\n  --"); at != std::string::npos; at = help.out.find("\n  --", at + 1)) {
        const std::string name = help.out.substr(at + 3, help.out.find_first_of(" \n", at + 3) - at - 3);
        SCOPED_TRACE(name);
        ++listed;
        const testing::Outcome run = testing::RunCommand({name});
        EXPECT_EQ(run.err.find("Unknown argument"), std::string::npos) << run.err;
    }
    EXPECT_GE(listed, 15U);
}

} // namespace
} // namespace dravo2
