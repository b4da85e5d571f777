// Builds the literal gate of the stored rule slots for any CPU and writes it as a C++
// source that embeds the database (rules/stored_rule_gate.h). Run by the build.
// Usage: rule-gate-build OUTPUT.cc SAMPLE... [--report] [--literals FILE]
//   writes OUTPUT.cc and the database beside it as OUTPUT.bin. Each SAMPLE holds ordinary
//   requests as the rules see them, one per line: of the literal sets that would gate a
//   slot, the one rarest in them all is taken. --report prints, per slot, how many
//   literals gate it; --literals FILE writes them, one "slot<TAB>literal" per line with
//   bytes outside printable ASCII (and tab and backslash) written as \xNN.

#include <string.h>  // explicit_bzero

#include <cinttypes>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rules/literal_gate.h"
#include "rules/new_des.h"
#include "rules/rule_slots.h"
#include "rules/stored_rule_gate.h"

namespace {

// The path as an assembler string literal.
std::string AssemblerQuoted(const std::string& text) {
  std::string out = "\\\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += "\\\\\\";
    out += c;
  }
  return out + "\\\"";
}

bool WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::optional<std::vector<std::string>> ReadLines(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// One line per literal for --literals, readable whatever bytes a literal holds.
std::string LiteralLines(const std::vector<std::optional<std::vector<std::string>>>& literals) {
  std::string out;
  for (std::size_t slot = 0; slot < literals.size(); ++slot) {
    if (!literals[slot]) continue;
    for (const std::string& literal : *literals[slot]) {
      out += std::to_string(slot + 1) + '\t';
      for (const char c : literal) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || c == '\\') {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02x", byte);
          out += hex;
        } else {
          out += c;
        }
      }
      out += '\n';
    }
  }
  return out;
}

int Run(const std::filesystem::path& source, const std::vector<std::filesystem::path>& samples,
        bool report, const std::filesystem::path& literal_file) {
  using ostrel::StoredRuleSlots;
  std::vector<std::string> sample;
  for (const std::filesystem::path& path : samples) {
    std::optional<std::vector<std::string>> lines = ReadLines(path);
    if (!lines) {
      std::fprintf(stderr, "rule-gate-build: cannot read %s\n", path.c_str());
      return 1;
    }
    sample.insert(sample.end(), lines->begin(), lines->end());
  }
  const ostrel::LiteralFrequencies frequencies(sample);
  std::vector<std::optional<std::vector<std::string>>> literals;
  std::string fingerprints;
  for (const std::string_view cipher : StoredRuleSlots()) {
    std::string plain = ostrel::DecryptHexText(cipher, ostrel::kRuleKeyText);
    literals.push_back(ostrel::RequiredLiterals(plain, &frequencies));
    explicit_bzero(plain.data(), plain.size());
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%016" PRIx64 "ULL, ",
                  ostrel::SlotFingerprint(ostrel::kRuleKeyText, cipher));
    fingerprints += hex;
    if (report) {
      const auto& set = literals.back();
      std::printf("slot %zu: %s\n", literals.size(),
                  set ? (std::to_string(set->size()) + " literals").c_str() : "every subject");
    }
  }
  if (!literal_file.empty() && !WriteFile(literal_file, LiteralLines(literals))) {
    std::fprintf(stderr, "rule-gate-build: cannot write %s\n", literal_file.c_str());
    return 1;
  }
  const ostrel::LiteralGate gate(literals, ostrel::GateTarget::kAnyMachine);
  const std::string database = gate.Serialized();
  std::filesystem::path binary = source;
  binary.replace_extension(".bin");
  if (!WriteFile(binary, database)) {
    std::fprintf(stderr, "rule-gate-build: cannot write %s\n", binary.c_str());
    return 1;
  }
  std::string text =
      "// Written by rule-gate-build; do not edit.\n"
      "#include \"rules/stored_rule_gate.h\"\n\n"
      "#include <cstdint>\n\n";
  if (database.empty()) {
    text +=
        "namespace {\nconst unsigned char* const kBegin = nullptr;\n"
        "const unsigned char* const kEnd = nullptr;\n}  // namespace\n\n";
  } else {
    text +=
        "asm(\".section .rodata\\n\"\n"
        "    \".balign 64\\n\"\n"
        "    \".global ostrel_stored_rule_gate_begin\\n\"\n"
        "    \".hidden ostrel_stored_rule_gate_begin\\n\"\n"
        "    \"ostrel_stored_rule_gate_begin:\\n\"\n"
        "    \".incbin " +
        AssemblerQuoted(std::filesystem::absolute(binary).string()) +
        "\\n\"\n"
        "    \".global ostrel_stored_rule_gate_end\\n\"\n"
        "    \".hidden ostrel_stored_rule_gate_end\\n\"\n"
        "    \"ostrel_stored_rule_gate_end:\\n\"\n"
        "    \".previous\\n\");\n\n"
        "extern \"C\" const unsigned char ostrel_stored_rule_gate_begin[];\n"
        "extern \"C\" const unsigned char ostrel_stored_rule_gate_end[];\n\n"
        "namespace {\nconst unsigned char* const kBegin = ostrel_stored_rule_gate_begin;\n"
        "const unsigned char* const kEnd = ostrel_stored_rule_gate_end;\n}  // namespace\n\n";
  }
  text +=
      "namespace ostrel {\n\nconst StoredRuleGate& StoredRuleGateData() {\n"
      "  static constexpr std::uint64_t kFingerprints[] = {" +
      fingerprints +
      "};\n"
      "  static const StoredRuleGate gate{\n"
      "      {kBegin, static_cast<std::size_t>(kEnd - kBegin)}, " +
      std::to_string(gate.always_slots()) + "U, " + std::to_string(gate.gated_slots()) +
      "U, kFingerprints};\n"
      "  return gate;\n}\n\n}  // namespace ostrel\n";
  if (!WriteFile(source, text)) {
    std::fprintf(stderr, "rule-gate-build: cannot write %s\n", source.c_str());
    return 1;
  }
  if (report) std::printf("database: %zu bytes\n", database.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> samples;
  bool report = false;
  std::filesystem::path literal_file;
  for (int i = 2; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--report") {
      report = true;
    } else if (std::string_view(argv[i]) == "--literals" && i + 1 < argc) {
      literal_file = argv[++i];
    } else {
      samples.emplace_back(argv[i]);
    }
  }
  if (argc < 3 || samples.empty()) {
    std::fprintf(stderr,
                 "usage: rule-gate-build OUTPUT.cc SAMPLE... [--report] [--literals FILE]\n");
    return 2;
  }
  try {
    return Run(argv[1], samples, report, literal_file);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "rule-gate-build: %s\n", error.what());
    return 1;
  }
}
