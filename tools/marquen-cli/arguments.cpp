#include "arguments.h"

#include <charconv>

namespace cli {

namespace {

const OptionSpec* FindOption(const CommandSyntax& syntax, std::string_view name)
{
    for (const OptionSpec& option : syntax.options) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

std::string Quoted(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

}  // namespace

bool ParsedArguments::Has(std::string_view option) const
{
    return m_options.find(option) != m_options.end();
}

std::optional<std::string> ParsedArguments::Value(std::string_view option) const
{
    auto it = m_options.find(option);
    if (it == m_options.end())
        return std::nullopt;
    return it->second;
}

std::optional<int64_t> ParsedArguments::Integer(std::string_view option, int64_t minimum, int64_t maximum) const
{
    std::optional<std::string> text = Value(option);
    if (!text)
        return std::nullopt;
    std::optional<int64_t> number = ParseInteger(*text);
    if (!number)
        throw UsageError("--" + std::string(option) + " needs a whole number, not " + Quoted(*text));
    if (*number < minimum || *number > maximum) {
        throw UsageError("--" + std::string(option) + " must lie in " + std::to_string(minimum) + ".." +
                         std::to_string(maximum) + ", not " + Quoted(*text));
    }
    return number;
}

ParsedArguments ParseArguments(std::span<const std::string> args, const CommandSyntax& syntax)
{
    ParsedArguments parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            parsed.m_positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word[1] != '-')
            throw UsageError("unknown option " + Quoted(word));

        std::string_view body = std::string_view(word).substr(2);
        std::optional<std::string> inlineValue;
        if (size_t equals = body.find('='); equals != std::string_view::npos) {
            inlineValue = std::string(body.substr(equals + 1));
            body = body.substr(0, equals);
        }
        const OptionSpec* option = FindOption(syntax, body);
        if (option == nullptr)
            throw UsageError("unknown option " + Quoted("--" + std::string(body)));
        if (parsed.m_options.find(body) != parsed.m_options.end())
            throw UsageError("option --" + std::string(body) + " given more than once");

        std::optional<std::string> value;
        if (option->valueName.empty()) {
            if (inlineValue)
                throw UsageError("option --" + std::string(body) + " takes no value");
        } else if (inlineValue) {
            value = std::move(inlineValue);
        } else {
            // The next word is the value whatever it looks like, so that
            // "--offset-x -8" works.
            if (i + 1 >= args.size())
                throw UsageError("option --" + std::string(body) + " needs a value " + std::string(option->valueName));
            value = args[++i];
        }
        parsed.m_options.emplace(std::string(body), std::move(value));
    }

    if (parsed.m_positionals.size() != syntax.positionals.size()) {
        if (parsed.m_positionals.size() < syntax.positionals.size())
            throw UsageError("missing " + std::string(syntax.positionals[parsed.m_positionals.size()]));
        throw UsageError("unexpected argument " + Quoted(parsed.m_positionals[syntax.positionals.size()]));
    }
    return parsed;
}

std::optional<int64_t> ParseInteger(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    // from_chars takes a leading minus but not a plus.
    size_t start = text[0] == '+' ? 1 : 0;
    if (start == 1 && (text.size() == 1 || text[1] == '-'))
        return std::nullopt;
    int64_t value = 0;
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(first, last, value, 10);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

}  // namespace cli
