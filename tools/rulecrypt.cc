// rulecrypt: enciphers a rule pattern for a rule slot, or deciphers a slot for review.
//   rulecrypt encrypt [--key TEXT]   pattern on standard input -> upper-case hex
//   rulecrypt decrypt [--key TEXT]   hex on standard input -> pattern
// The key text defaults to the one the rule slots use.

#include <cstdio>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "rules/is_match.h"
#include "rules/new_des.h"

namespace {

constexpr std::string_view kUsage =
    "usage: rulecrypt encrypt|decrypt [--key TEXT]\n"
    "  encrypt: reads a pattern from standard input (its final newline is dropped) and\n"
    "           prints the upper-case hex cipher text\n"
    "  decrypt: reads a hex cipher text from standard input and prints the pattern\n"
    "  --key:   the key text (default \"tarvin\")\n";

std::string ReadAll(std::istream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Encrypt(std::string pattern, std::string_view key) {
  if (!pattern.empty() && pattern.back() == '\n') pattern.pop_back();
  if (!pattern.empty() && pattern.back() == '\r') pattern.pop_back();
  if (pattern.empty()) {
    std::cerr << "rulecrypt: the pattern is empty\n";
    return 1;
  }
  std::string hex;
  try {
    hex = ostrel::EncryptToHexText(pattern, key);
  } catch (const std::invalid_argument& error) {
    std::cerr << "rulecrypt: " << error.what() << '\n';
    return 1;
  }
  // A slot that does not compile stops every run that uses it; say so now.
  try {
    ostrel::IsMatch("", pattern);
  } catch (const ostrel::ERegularExpressionError& error) {
    std::cerr << "rulecrypt: warning: the pattern does not compile: " << error.what() << '\n';
  }
  std::cout << hex << '\n';
  return 0;
}

int Decrypt(const std::string& input, std::string_view key) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  const std::size_t first = input.find_first_not_of(kSpace);
  const std::size_t last = input.find_last_not_of(kSpace);
  const std::string_view hex = first == std::string::npos
                                   ? std::string_view()
                                   : std::string_view(input).substr(first, last - first + 1);
  const std::string plain = ostrel::DecryptHexText(hex, key);
  if (plain.empty()) {
    std::cerr << "rulecrypt: not a hex cipher text, or it deciphers to nothing\n";
    return 1;
  }
  std::cout << plain << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string_view command;
  std::string key(ostrel::kRuleKeyText);
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--key" && i + 1 < argc) {
      key = argv[++i];
    } else if (arg.substr(0, 6) == "--key=") {
      key = arg.substr(6);
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (command.empty() && (arg == "encrypt" || arg == "decrypt")) {
      command = arg;
    } else {
      std::cerr << "rulecrypt: unexpected argument '" << arg << "'\n" << kUsage;
      return 2;
    }
  }
  if (command.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string input = ReadAll(std::cin);
  if (!std::cin.eof() && std::cin.fail()) {
    std::cerr << "rulecrypt: cannot read standard input\n";
    return 1;
  }
  return command == "encrypt" ? Encrypt(input, key) : Decrypt(input, key);
}
