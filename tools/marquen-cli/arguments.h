#pragma once
// Command-line parsing for marquen-cli: positional operands and "--name value"
// (or "--name=value") options, checked against what a subcommand declares.
// Every problem is a UsageError, which the caller turns into the usage text and
// exit status 2.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// One option a subcommand accepts. An empty valueName makes it a flag that
/// takes no value.
struct OptionSpec {
    std::string_view name;       ///< without the leading "--"
    std::string_view valueName;  ///< shown in messages, e.g. "W"
};

/// What a subcommand accepts: exactly these positional operands, and any of
/// these options, each at most once.
struct CommandSyntax {
    std::span<const std::string_view> positionals;
    std::span<const OptionSpec> options;
};

class ParsedArguments {
public:
    const std::vector<std::string>& Positionals() const { return m_positionals; }
    bool Has(std::string_view option) const;
    /// The option's value; nullopt when it was not given (or is a flag).
    std::optional<std::string> Value(std::string_view option) const;
    /// The option's value as a decimal integer in [minimum, maximum]; nullopt
    /// when the option was not given. UsageError when it is not such a number.
    std::optional<int64_t> Integer(std::string_view option, int64_t minimum, int64_t maximum) const;

private:
    friend ParsedArguments ParseArguments(std::span<const std::string>, const CommandSyntax&);
    std::vector<std::string> m_positionals;
    std::map<std::string, std::optional<std::string>, std::less<>> m_options;
};

/// Splits args (the words after the subcommand name) by syntax. A lone "--"
/// ends the options, so an operand may begin with "-". UsageError on an
/// unknown or repeated option, a missing value, or a wrong operand count.
ParsedArguments ParseArguments(std::span<const std::string> args, const CommandSyntax& syntax);

/// A decimal integer with an optional sign and nothing else (no spaces, no
/// base prefix); nullopt when text is not one or does not fit 64 bits.
std::optional<int64_t> ParseInteger(std::string_view text);

}  // namespace cli
