// Command-line parsing of the subcommands.
#include "args.h"

#include "errors.h"

namespace tova_cli {

std::optional<uint64_t> ParseUnsigned(const std::string& text, uint64_t max_value) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max_value - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

Args::Args(const std::vector<std::string>& args, const std::vector<OptionSpec>& option_table) {
  auto find_option = [&](const std::string& word) -> const OptionSpec* {
    for (const OptionSpec& opt : option_table)
      if (word == opt.name || (!opt.short_name.empty() && word == opt.short_name)) return &opt;
    return nullptr;
  };
  for (const std::string& word : args)
    if (word == "--help" || word == "-h") help_ = true;
  if (help_) return;

  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (options_done || word.size() < 2 || word[0] != '-') {
      positional_.push_back(word);
      continue;
    }
    if (word == "--") {
      options_done = true;
      continue;
    }
    std::string key = word;
    std::optional<std::string> inline_value;
    if (const size_t eq = word.find('='); word.rfind("--", 0) == 0 && eq != std::string::npos) {
      key = word.substr(0, eq);
      inline_value = word.substr(eq + 1);
    }
    const OptionSpec* opt = find_option(key);
    if (!opt) throw UsageError("unknown option '" + word + "'");
    if (!opt->takes_value) {
      if (inline_value) throw UsageError("option " + opt->name + " takes no value");
      flags_.insert(opt->name);
      continue;
    }
    if (!inline_value) {
      if (i + 1 >= args.size()) throw UsageError("option " + opt->name + " needs a value");
      inline_value = args[++i];
    }
    if (values_.count(opt->name)) throw UsageError("option " + opt->name + " given twice");
    values_[opt->name] = *inline_value;
  }
}

bool Args::has(const std::string& name) const { return flags_.count(name) != 0 || values_.count(name) != 0; }

std::optional<std::string> Args::value(const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<uint64_t> Args::number(const std::string& name, uint64_t max_value) const {
  const std::optional<std::string> text = value(name);
  if (!text) return std::nullopt;
  const std::optional<uint64_t> parsed = ParseUnsigned(*text, max_value);
  if (!parsed)
    throw UsageError("option " + name + " expects a whole number from 0 to " + std::to_string(max_value) +
                     ", not '" + *text + "'");
  return parsed;
}

}  // namespace tova_cli
