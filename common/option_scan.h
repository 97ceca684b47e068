// The options at the front of a command line, as both programs take them:
// arguments that begin with "-", up to the first that does not, or to "--",
// which ends them and is taken.
#pragma once

#include <cstring>
#include <string_view>

namespace quiver {

class OptionScan {
 public:
  OptionScan(int argc, char** argv) : argc_(argc), argv_(argv) {}

  // The next option, or false once the options have ended.
  bool Next(std::string_view& option) {
    if (next_ >= argc_ || argv_[next_][0] != '-') return false;
    option = argv_[next_++];
    if (option != "--") return true;
    return false;
  }

  // The value of "-x value" or "--long=value" for the option just taken,
  // or nullptr when it is neither of them or the value is missing.
  const char* Value(std::string_view option, std::string_view short_name,
                    std::string_view long_name) {
    if (option == short_name) return next_ < argc_ ? argv_[next_++] : nullptr;
    if (option.size() > long_name.size() && option.starts_with(long_name) &&
        option[long_name.size()] == '=')
      return argv_[next_ - 1] + long_name.size() + 1;
    return nullptr;
  }

  // The index of the first argument after the options.
  int position() const { return next_; }

 private:
  int argc_;
  char** argv_;
  int next_ = 1;
};

// A thread count from 1 to 1024, written in decimal digits alone, or 0.
inline int ThreadCount(const char* text) {
  int count = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    count = count * 10 + (*p - '0');
    if (count > 1024) return 0;
  }
  return count;
}

}  // namespace quiver
