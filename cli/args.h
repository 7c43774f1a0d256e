// Command-line parsing for the subcommands: positional arguments, flags and
// options with values ("--frame 3", "--frame=3", "-o out.png"), "--" ends the
// options. Every command declares what it accepts; anything else is a usage
// error.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tova_cli {

struct OptionSpec {
  std::string name;            // "--frame"
  std::string short_name;      // "-o", or empty
  bool takes_value = false;
};

class Args {
 public:
  // Parses args (the words after the subcommand). "--help" and "-h" set
  // help(); parsing stops being strict then, so that help always shows.
  Args(const std::vector<std::string>& args, const std::vector<OptionSpec>& option_table);

  bool help() const { return help_; }
  const std::vector<std::string>& positional() const { return positional_; }
  bool has(const std::string& name) const;
  std::optional<std::string> value(const std::string& name) const;

  // The value of an option as an unsigned number; usage error when it is not one.
  std::optional<uint64_t> number(const std::string& name, uint64_t max_value) const;

 private:
  bool help_ = false;
  std::vector<std::string> positional_;
  std::set<std::string> flags_;
  std::map<std::string, std::string> values_;
};

// Parses a decimal number without sign; nullopt when text is not one or
// exceeds max_value.
std::optional<uint64_t> ParseUnsigned(const std::string& text, uint64_t max_value);

}  // namespace tova_cli
