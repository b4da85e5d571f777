// Fuzzes the INI reader and writer with manifest-like use: every section's keys are read,
// integers parsed, and a value written and read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "update/ini_file.h"
#include "update/updater.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ostrel::IniFile ini = ostrel::IniFile::Parse(text);
  for (const std::string& section : ini.SectionNames()) {
    const std::string name = ini.ReadString(section, "Name", "");
    (void)ini.ReadString(section, "URL", "");
    (void)ini.ReadInteger(section, "Ver", 0);
    (void)ostrel::IsPlainFileName(name);
    (void)ostrel::DerivedSectionName(name);
  }
  (void)ostrel::ParseProfileInteger(text);
  ini.WriteString("fuzz_section", "Ver", "42");
  if (ini.ReadInteger("fuzz_section", "Ver", 0) != 42) std::abort();
  // Writing then reading the text back keeps the value.
  if (ostrel::IniFile::Parse(ini.ToText()).ReadInteger("fuzz_section", "Ver", 0) != 42) {
    std::abort();
  }
  return 0;
}
