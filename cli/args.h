// Command-line arguments of one subcommand: options (with or without a value) and the positional
// arguments left over. Arguments are kept as UTF-16, the form every path takes in the package
// core, so that a Windows file name arrives exactly as typed.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct OptionSpec {
    std::string_view name;  // "--force", "-o"
    std::string_view alias; // a second spelling ("--output"), or empty
    bool takesValue = false;
    // May be given more than once, each value counting (--shortcut, --version-info). Any other
    // option with a value is refused the second time: which of two outputs, processors or
    // folders was meant cannot be told, and keeping the last would hide the slip.
    bool repeatable = false;
};

class Args {
public:
    // Splits the arguments after the subcommand's name. Every subcommand also accepts --help and
    // --quiet. Fails with the problem for an unknown option or a missing value.
    bool Parse(const std::vector<std::u16string>& arguments, std::span<const OptionSpec> options, std::string& problem);

    bool Has(std::string_view option) const { return values_.count(std::string(option)) != 0; }
    // The option's value (the last one when it was given more than once); empty when not given.
    std::u16string Value(std::string_view option) const;
    // Every value of an option that may be given more than once, in command-line order.
    std::vector<std::u16string> Values(std::string_view option) const;
    const std::vector<std::u16string>& Positional() const { return positional_; }
    bool Quiet() const { return Has("--quiet"); }
    bool Help() const { return Has("--help"); }

private:
    std::map<std::string, std::vector<std::u16string>> values_; // by the option's first spelling
    std::vector<std::u16string> positional_;
};

// Text for messages: arguments and paths as UTF-8.
std::string Utf8(std::u16string_view text);

} // namespace cli
