#include "cli/option_table.h"

#include "data/errors.h"

#include <algorithm>
#include <utility>

namespace dravo2 {
inline namespace cli {
namespace {

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

} // namespace

CommandOption::CommandOption(std::vector<std::string> names, OptionValue value,
                             std::function<void(const std::string&)> take)
    : Names(std::move(names)), Value(value), Take(std::move(take)) {}

CommandOption CommandOption::Listed(std::string synopsis, std::string help, std::string section) && {
    Synopsis = std::move(synopsis);
    Help = std::move(help);
    Section = std::move(section);
    return std::move(*this);
}

CommandOption CommandOption::Repeated() && {
    Repeatable = true;
    return std::move(*this);
}

OptionTable& OptionTable::Add(CommandOption option) {
    Options.push_back(std::move(option));
    return *this;
}

const CommandOption* OptionTable::Find(std::string_view name) const {
    for (const CommandOption& option : Options) {
        if (std::find(option.Names.begin(), option.Names.end(), name) != option.Names.end()) {
            return &option;
        }
    }
    return nullptr;
}

bool OptionTable::Take(const std::vector<std::string>& args, std::size_t& i) {
    const std::string& arg = args[i];
    const CommandOption* option = Find(arg);
    if (option == nullptr) {
        return false;
    }
    if (!option->Repeatable && std::find(Taken.begin(), Taken.end(), option) != Taken.end()) {
        // Its later value would silently replace the earlier one.
        throw ProgramError("Option " + arg + " is given twice");
    }
    Taken.push_back(option);
    switch (option->Value) {
    case OptionValue::None:
        option->Take({});
        break;
    case OptionValue::Text:
    case OptionValue::Path:
        if (i + 1 >= args.size()) {
            throw ProgramError("Option " + arg + " needs a value");
        }
        if (option->Value == OptionValue::Path && args[i + 1].empty()) {
            // An empty name would be taken as no file at all.
            throw ProgramError("Option " + arg + " needs a file name");
        }
        option->Take(args[++i]);
        break;
    case OptionValue::Paths:
        while (i + 1 < args.size() && !args[i + 1].starts_with("-")) {
            if (args[i + 1].empty()) {
                throw ProgramError("Option " + arg + " needs file names, not an empty one");
            }
            option->Take(args[++i]);
        }
        break;
    }
    return true;
}

bool OptionTable::Given(std::string_view name) const {
    const CommandOption* option = Find(name);
    return option != nullptr && std::find(Taken.begin(), Taken.end(), option) != Taken.end();
}

std::string OptionTable::HelpText(std::string_view section, HelpLayout layout) const {
    const std::string indent(layout.Column, ' ');
    std::string text;
    for (const CommandOption& option : Options) {
        if (option.Synopsis.empty() || option.Section != section) {
            continue;
        }
        const std::vector<std::string_view> synopsis = Lines(option.Synopsis);
        const std::vector<std::string_view> help = Lines(option.Help);
        std::string head = "  " + std::string(synopsis.front());
        const bool ownLine = synopsis.size() > 1 || (layout.LongOnOwnLine && head.size() >= layout.Column);
        std::size_t next = 0;
        if (ownLine) {
            text += head + "\n";
            for (std::size_t line = 1; line < synopsis.size(); ++line) {
                text += indent + std::string(synopsis[line]) + "\n";
            }
        } else {
            head.resize(head.size() >= layout.Column ? head.size() + 2 : layout.Column, ' ');
            text += head + std::string(help.empty() ? std::string_view() : help.front()) + "\n";
            next = 1;
        }
        for (; next < help.size(); ++next) {
            text += indent + std::string(help[next]) + "\n";
        }
    }
    return text;
}

OptionTable OptionTable::Only(const std::function<bool(const std::string&)>& keep) const {
    OptionTable table;
    for (const CommandOption& option : Options) {
        if (keep(option.Names.front())) {
            table.Add(option);
        }
    }
    return table;
}

void AddHelpAndVersion(OptionTable& table, bool& help, bool& version) {
    table.Add(
        CommandOption{{"--help", "-h"}, OptionValue::None, [&help](const std::string&) { help = true; }}.Repeated());
    table.Add(
        CommandOption{{"--version"}, OptionValue::None, [&version](const std::string&) { version = true; }}.Repeated());
}

} // namespace cli
} // namespace dravo2
