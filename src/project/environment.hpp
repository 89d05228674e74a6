#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quarn {

// What a plan depends on besides the project folder: the environment's variables, the programs on
// the search path and the processors. Passed in rather than read where it is used, so that a test
// can set it.
class Environment {
 public:
  virtual ~Environment() = default;

  // The value of `name`, or nullopt when it is unset.
  virtual std::optional<std::string> variable(const std::string& name) const = 0;

  // The path of the program `name` as a command run in `where` finds it on the search path
  // (relative entries taken from there; `where` empty: quarn's own folder), or empty.
  virtual std::string locate(const std::string& name, const std::string& where) const = 0;

  // The processors a build may run on, at least 1.
  virtual unsigned processors() const = 0;

  // Whether `name` is set to something other than the empty text.
  bool isSet(const std::string& name) const;

  // This process's own.
  static const Environment& system();
};

// An environment of given variables, with the search path its PATH says and a fixed processor
// count: for tests, and for asking how a plan would differ elsewhere.
class FixedEnvironment : public Environment {
 public:
  explicit FixedEnvironment(std::map<std::string, std::string> variables, unsigned processors = 2)
      : variables_(std::move(variables)), processors_(processors) {}
  std::optional<std::string> variable(const std::string& name) const override;
  std::string locate(const std::string& name, const std::string& where) const override;
  unsigned processors() const override { return processors_; }

 private:
  std::map<std::string, std::string> variables_;
  unsigned processors_;
};

}  // namespace quarn
