// Splitting a subcommand's arguments into options and positional arguments.
#include "cli/args.h"

#include "cli/nearest.h"
#include "platform/text.h"

#include <array>
#include <optional>
#include <vector>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 2> kCommonOptions{{{"--help", "-h", false}, {"--quiet", "-q", false}}};

const OptionSpec* Find(std::string_view name, std::span<const OptionSpec> options) {
    for (const OptionSpec& o : kCommonOptions) {
        if (o.name == name || o.alias == name) {
            return &o;
        }
    }
    for (const OptionSpec& o : options) {
        if (o.name == name || (!o.alias.empty() && o.alias == name)) {
            return &o;
        }
    }
    return nullptr;
}

// "unknown option --forse; did you mean --force?": every spelling of the command's options is a
// candidate, the common ones included.
std::string UnknownOption(std::string_view name, std::span<const OptionSpec> options) {
    std::vector<std::string_view> spellings;
    for (std::span<const OptionSpec> list : {std::span<const OptionSpec>(kCommonOptions), options}) {
        for (const OptionSpec& o : list) {
            spellings.push_back(o.name);
            if (!o.alias.empty()) {
                spellings.push_back(o.alias);
            }
        }
    }
    std::string problem = "unknown option " + std::string(name);
    if (std::optional<std::string> meant = NearestName(name, spellings)) {
        problem += "; did you mean " + *meant + "?";
    }
    return problem;
}

bool IsAscii(std::u16string_view text) {
    for (char16_t c : text) {
        if (c > 0x7F) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string Utf8(std::u16string_view text) { return platform::ToUtf8(text); }

std::u16string Args::Value(std::string_view option) const {
    auto found = values_.find(std::string(option));
    return found == values_.end() ? std::u16string() : found->second.back();
}

std::vector<std::u16string> Args::Values(std::string_view option) const {
    auto found = values_.find(std::string(option));
    return found == values_.end() ? std::vector<std::u16string>() : found->second;
}

bool Args::Parse(const std::vector<std::u16string>& arguments, std::span<const OptionSpec> options,
                 std::string& problem) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::u16string_view argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != u'-') {
            positional_.emplace_back(argument);
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" as well as "--name value".
        std::u16string_view name = argument.substr(0, argument.find(u'='));
        const OptionSpec* spec = IsAscii(name) ? Find(Utf8(name), options) : nullptr;
        if (!spec) {
            problem = IsAscii(name) ? UnknownOption(Utf8(name), options) : "unknown option " + Utf8(name);
            return false;
        }
        std::u16string value;
        if (name.size() < argument.size()) {
            if (!spec->takesValue) {
                problem = "option " + std::string(spec->name) + " takes no value";
                return false;
            }
            value = argument.substr(name.size() + 1);
        } else if (spec->takesValue) {
            if (i + 1 >= arguments.size()) {
                problem = "option " + std::string(spec->name) + " needs a value";
                return false;
            }
            value = arguments[++i];
        }
        std::vector<std::u16string>& given = values_[std::string(spec->name)];
        if (spec->takesValue && !spec->repeatable && !given.empty()) {
            problem = "option " + std::string(spec->name) + " is given twice; give it once";
            return false;
        }
        given.push_back(value);
    }
    return true;
}

} // namespace cli
