// Failures of the tova tool: one table that names every result code of the
// library, and the exception that carries a message and an exit status up to
// main, which prints it on stderr.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tova_cli {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work failed (library code, file, data)
inline constexpr int kExitUsage = 2;    // the command line is wrong

// A failure that ends the command: main prints "tova <command>: <message>".
class CliError : public std::runtime_error {
 public:
  explicit CliError(const std::string& message, int exit_status = kExitFailure)
      : std::runtime_error(message), exit_status_(exit_status) {}
  int exit_status() const { return exit_status_; }

 private:
  int exit_status_;
};

// A wrong command line; main adds a pointer to --help.
class UsageError : public CliError {
 public:
  explicit UsageError(const std::string& message) : CliError(message, kExitUsage) {}
};

// The constant name of a result code ("TOVA_ERR_READ"), or empty when the
// code has no name of its own.
std::string ResultCodeName(int32_t code);

// What a result code means, in one short phrase.
std::string ResultCodeText(int32_t code);

// "error 9 (TOVA_ERR_READ: reading the file failed)".
std::string DescribeResult(int32_t code);

// Throws CliError("<what>: error N (NAME: meaning)") unless code is 0.
void Check(int32_t code, const std::string& what);

}  // namespace tova_cli
