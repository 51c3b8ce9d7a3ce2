#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dravo2 {
inline namespace cli {

// What follows an option on the command line.
enum class OptionValue {
    None,  // nothing: a switch such as --modes
    Text,  // one word; "Option X needs a value" when none follows
    Path,  // one word naming a file; an empty one is refused ("Option X needs a file name")
    Paths, // every following word up to the next one starting with '-', each naming a file
};

// One option of a command: its names, what follows it, its entry in --help and what it does with
// its value.
struct CommandOption {
    CommandOption(std::vector<std::string> names, OptionValue value, std::function<void(const std::string&)> take);

    std::vector<std::string> Names; // "--help", "-h": every spelling the command accepts
    OptionValue Value = OptionValue::None;
    // Takes the value: checks it (throwing ProgramError for one the option refuses, at once, before
    // the words after it are read) and stores it. A switch gets an empty text; an option of kind
    // Paths gets each file name in turn.
    std::function<void(const std::string&)> Take;
    // Its entry in the option list of --help: the option as written there ("--threads N"; further
    // lines after '\n'), and the description, a line per '\n'. No synopsis: not listed.
    std::string Synopsis;
    std::string Help;
    std::string Section;     // the list of --help it stands in
    bool Repeatable = false; // may be given more than once; any other option given twice is refused

    // This option listed in --help with `synopsis` and `help` in `section`.
    CommandOption Listed(std::string synopsis, std::string help, std::string section = {}) &&;
    // This option allowed more than once.
    CommandOption Repeated() &&;
};

// How an option list of --help is laid out: descriptions start at `Column`, continuation lines are
// indented to it. A synopsis that reaches the column either stands on its own line, with its
// description on the next (`LongOnOwnLine`), or is followed by two spaces and the description.
struct HelpLayout {
    std::size_t Column = 0;
    bool LongOnOwnLine = false;
};

// The options of a command in one place: the parser reads the command line against it and --help
// lists it, so that an option, its check and its description cannot drift apart.
class OptionTable {
public:
    OptionTable& Add(CommandOption option);

    // Takes args[i] when it names an option of the table, with the value that follows it, and
    // advances i past that value; false for any other word. Throws ProgramError for an option
    // given twice (unless repeatable), a missing value, an empty file name or a value the option's
    // check refuses.
    bool Take(const std::vector<std::string>& args, std::size_t& i);

    // Whether the option named `name` (any of its spellings) was taken.
    bool Given(std::string_view name) const;

    // The option list of `section` for --help, in the order the options were added.
    std::string HelpText(std::string_view section, HelpLayout layout) const;

    // The options among these whose first name `keep` accepts, not yet given.
    OptionTable Only(const std::function<bool(const std::string&)>& keep) const;

private:
    const CommandOption* Find(std::string_view name) const;

    std::vector<CommandOption> Options;
    std::vector<const CommandOption*> Taken;
};

// Adds --help (also -h) and --version, which set `help` and `version` and may be repeated.
void AddHelpAndVersion(OptionTable& table, bool& help, bool& version);

} // namespace cli
} // namespace dravo2
