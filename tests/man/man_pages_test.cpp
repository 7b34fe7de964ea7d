// The manual pages (man/NAME.1.scd) against what the programs themselves say
// in --help: every long option and every marquen-cli command a program's help
// names has an entry of its own in the page, every option the page gives an
// entry exists, and no --option mentioned anywhere in a page is unknown to
// all three programs. A new option without its entry, or an entry left
// behind by a removed one, fails here.
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Names = std::set<std::string>;
using testing_support::RunResult;

// Runs program with args and no display (a help text must not need one).
RunResult RunWithoutDisplay(const std::string& program, const std::vector<std::string>& args)
{
    return testing_support::RunProgram(
        program, args, {.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY"}, .timeLimit = std::chrono::seconds(30)});
}

// Every "--name" in text (a lone "--" is no option).
Names LongOptions(const std::string& text)
{
    static const std::regex option("--[a-z0-9][a-z0-9-]*");
    Names found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        found.insert(it->str());
    return found;
}

// The command names of marquen-cli's usage text: its "  marquen-cli NAME" lines.
Names CommandNames(const std::string& usage)
{
    static const std::regex line("^  marquen-cli ([a-z][a-z0-9-]*)");
    Names found;
    std::istringstream in(usage);
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (std::regex_search(text, match, line))
            found.insert(match[1]);
    }
    return found;
}

size_t Indent(const std::string& line)
{
    return line.find_first_not_of('\t') == std::string::npos ? line.size() : line.find_first_not_of('\t');
}

// The entries of an scdoc page: a line that begins with a bold word and whose
// next line is indented one tab deeper ("*--port* _PORT_" then "\tThe ...").
struct Entries {
    Names options;   ///< every *--name* in an entry's line
    Names commands;  ///< first bold word, not an option, of an entry in a "... COMMANDS" section
    Names allTerms;  ///< first bold word of every entry
};

Entries PageEntries(const std::string& page)
{
    static const std::regex boldOption("\\*(--[a-z0-9][a-z0-9-]*)=?\\*");
    static const std::regex firstBold("^\\t*\\*([^*]+)\\*");
    std::vector<std::string> lines;
    std::istringstream in(page);
    for (std::string text; std::getline(in, text);)
        lines.push_back(text);

    Entries entries;
    std::string section;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.starts_with("# ")) {
            section = line.substr(2);
            continue;
        }
        std::smatch first;
        if (!std::regex_search(line, first, firstBold) || i + 1 >= lines.size() ||
            Indent(lines[i + 1]) != Indent(line) + 1)
            continue;
        const std::string term = first[1];
        entries.allTerms.insert(term);
        if (!term.starts_with("-") && section.ends_with("COMMANDS"))
            entries.commands.insert(term);
        for (auto it = std::sregex_iterator(line.begin(), line.end(), boldOption); it != std::sregex_iterator(); ++it)
            entries.options.insert((*it)[1]);
    }
    return entries;
}

Names Without(const Names& all, const Names& taken)
{
    Names left;
    for (const std::string& name : all) {
        if (!taken.contains(name))
            left.insert(name);
    }
    return left;
}

std::string Join(const Names& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

// What is out of step between a program's help and its page: options (and
// commands) the help names that have no entry, entries the help does not
// know.
struct Drift {
    Names undocumented;
    Names unknown;
};

Drift Compare(const Names& helpOptions, const Names& helpCommands, const Entries& page)
{
    Drift drift;
    drift.undocumented = Without(helpOptions, page.options);
    for (const std::string& command : Without(helpCommands, page.allTerms))
        drift.undocumented.insert(command);
    drift.unknown = Without(page.options, helpOptions);
    for (const std::string& command : Without(page.commands, helpCommands))
        drift.unknown.insert(command);
    return drift;
}

std::string ManPage(const std::string& name)
{
    const std::filesystem::path path = std::filesystem::path(MARQUEN_MAN_DIR) / (name + ".1.scd");
    std::string text = testing_support::ReadFileText(path);
    EXPECT_FALSE(text.empty()) << path << " is missing or empty";
    return text;
}

// The help of one program, run as a user runs it; fails the test when the
// program does not answer with status 0 and a text.
std::string Help(const std::string& program, const std::vector<std::string>& args)
{
    RunResult run = RunWithoutDisplay(program, args);
    std::string shown = program;
    for (const std::string& arg : args)
        shown += " " + arg;
    EXPECT_EQ(run.status, 0) << shown << "\n" << run.err;
    EXPECT_FALSE(run.out.empty()) << shown << " printed nothing\n" << run.err;
    return run.out;
}

struct ProgramHelp {
    Names options;
    Names commands;
};

std::map<std::string, ProgramHelp> AllHelps()
{
    std::map<std::string, ProgramHelp> helps;

    helps["marquen"].options = LongOptions(Help(MARQUEN_PATH, {"--help"}));

    const std::string cliUsage = Help(MARQUEN_CLI_PATH, {"--help"});
    ProgramHelp& cli = helps["marquen-cli"];
    cli.options = LongOptions(cliUsage);
    cli.commands = CommandNames(cliUsage);
    EXPECT_GE(cli.commands.size(), 10u) << "the command list of marquen-cli --help was not recognised";
    for (const std::string& command : cli.commands) {
        Names own = LongOptions(Help(MARQUEN_CLI_PATH, {command, "--help"}));
        cli.options.insert(own.begin(), own.end());
    }

    ProgramHelp& vprinter = helps["vprinter"];
    vprinter.options = LongOptions(Help(VPRINTER_PATH, {"--help"}));
#if MARQUEN_VPRINTER_HAS_USB
    Names usb = LongOptions(Help(VPRINTER_PATH, {"--usb", "--help"}));
    vprinter.options.insert(usb.begin(), usb.end());
#endif
    return helps;
}

TEST(ManPages, EveryOptionAndCommandOfTheHelpHasAnEntryAndEveryEntryExists)
{
    const std::map<std::string, ProgramHelp> helps = AllHelps();
    for (const auto& [program, help] : helps) {
        SCOPED_TRACE(program);
        EXPECT_FALSE(help.options.empty()) << "no option found in the help of " << program;
        Entries page = PageEntries(ManPage(program));
#if !MARQUEN_VPRINTER_HAS_USB
        // Built without the USB printer: its options are documented all the same.
        if (program == "vprinter") {
            for (auto it = page.options.begin(); it != page.options.end();)
                it = it->starts_with("--usb-") ? page.options.erase(it) : std::next(it);
        }
#endif
        Drift drift = Compare(help.options, help.commands, page);
        EXPECT_TRUE(drift.undocumented.empty())
            << "in the help of " << program << " but without an entry in man/" << program
            << ".1.scd: " << Join(drift.undocumented);
        EXPECT_TRUE(drift.unknown.empty())
            << "entries of man/" << program << ".1.scd that " << program
            << "'s help does not know: " << Join(drift.unknown);
    }
}

TEST(ManPages, EveryOptionMentionedInAPageExists)
{
    // Prose and examples may name another program's options (marquen-cli's
    // page starts a vprinter), so the mentions are checked against all three.
    Names known;
    for (const auto& [program, help] : AllHelps())
        known.insert(help.options.begin(), help.options.end());
    for (const char* program : {"marquen", "marquen-cli", "vprinter"}) {
        Names mentioned = LongOptions(ManPage(program));
#if !MARQUEN_VPRINTER_HAS_USB
        std::erase_if(mentioned, [](const std::string& name) { return name.starts_with("--usb-"); });
#endif
        EXPECT_TRUE(Without(mentioned, known).empty())
            << "man/" << program << ".1.scd mentions options no program has: " << Join(Without(mentioned, known));
    }
}

// The check itself: a help with an option the page lacks, and a page with an
// entry (option or command) the help lacks, are both reported; mentions in
// prose count for nothing.
TEST(ManPages, CheckReportsAnOptionAddedWithoutItsEntryAndAnEntryLeftBehind)
{
    const std::string help = "Usage: tool COMMAND\n"
                             "  marquen-cli ship --fast\n"
                             "  marquen-cli sink\n"
                             "  --fast      go fast\n"
                             "  --new-flag  added without an entry\n";
    const std::string page = "tool(1)\n"
                             "\n"
                             "# DESCRIPTION\n"
                             "\n"
                             "*--new-flag* is only mentioned here, in prose.\n"
                             "\n"
                             "# COMMANDS\n"
                             "\n"
                             "*ship* *--fast*\n"
                             "\tShip.\n"
                             "\n"
                             "*sink*\n"
                             "\tSink.\n"
                             "\n"
                             "*swim*\n"
                             "\tA command that was removed.\n"
                             "\n"
                             "# OPTIONS\n"
                             "\n"
                             "*--gone* _N_\n"
                             "\tAn option that was removed.\n";
    Entries entries = PageEntries(page);
    EXPECT_EQ(entries.options, (Names{"--fast", "--gone"}));
    EXPECT_EQ(entries.commands, (Names{"ship", "sink", "swim"}));
    EXPECT_EQ(CommandNames(help), (Names{"ship", "sink"}));

    Drift drift = Compare(LongOptions(help), CommandNames(help), entries);
    EXPECT_EQ(drift.undocumented, (Names{"--new-flag"}));
    EXPECT_EQ(drift.unknown, (Names{"--gone", "swim"}));
}

TEST(ManPages, MarquenAnswersHelpAndVersionWithoutADisplay)
{
    RunResult help = RunWithoutDisplay(MARQUEN_PATH, {"--help"});
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_TRUE(help.out.starts_with("Usage: marquen")) << help.out;
    RunResult version = RunWithoutDisplay(MARQUEN_PATH, {"--version"});
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_NE(version.out.find("Marquen"), std::string::npos) << version.out;
}

}  // namespace
