// qqwry-build: writes a QQWry.dat IP database from a plain-text description, for test
// fixtures and fuzzing seeds.
//
// Usage: qqwry-build DESCRIPTION.txt OUTPUT.dat
//
// Description format, one record per line, in ascending order of start address (the
// order is kept as written, so a non-ascending index can be made on purpose):
//
//   START  COUNTRY-FORM  "COUNTRY"  AREA-FORM  ["AREA"]
//
//   START         the first address of the record's range, a dotted address (1.2.3.0);
//                 the range ends one below the next record's START, the last at
//                 255.255.255.255.
//   COUNTRY-FORM  inline     the country text stands in the record
//                 ref1       0x01 + offset of a block: the country text, then the area field
//                 ref1-ref2  0x01 + offset of a block: 0x02 + offset of the country text,
//                            then the area field
//                 ref2       0x02 + offset of the country text; the area field follows
//   AREA-FORM     inline     the area text stands in place
//                 ref1/ref2  0x01/0x02 + offset of the area text
//                 unknown1/unknown2
//                            0x01/0x02 + offset 0 (the reader's "未知地区"); takes no text
//
// Texts are double-quoted UTF-8, stored as GBK; "" is the empty text. Escapes: \" \\ and
// \xHH for one raw byte (not 00). Texts that are the target of an offset (ref2 country,
// ref1-ref2 country, ref1/ref2 area) are stored once and shared by every record using the
// same text; identical ref1 blocks are shared too. Blank lines and text after '#' outside
// quotes are ignored. Example:
//
//   0.0.0.0      inline  "IANA"  inline  "保留地址"
//   1.0.0.0      ref1    "美国"  ref2    " CZ88.NET"
//   255.255.255.0 inline "纯真网络" inline "2024年01月17日IP数据"
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/qqwry_builder/qqwry_builder.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: qqwry-build DESCRIPTION.txt OUTPUT.dat\n";
    return 2;
  }
  const std::string input_path = argv[1];
  const std::string output_path = argv[2];
  std::ifstream input(input_path, std::ios::binary);
  if (!input) {
    std::cerr << "qqwry-build: cannot read " << input_path << "\n";
    return 2;
  }
  std::ostringstream text;
  text << input.rdbuf();
  std::string bytes;
  try {
    bytes = ostrel::BuildQQWry(ostrel::ParseQQWryDescription(text.str()));
  } catch (const ostrel::QQWryDescriptionError& error) {
    std::cerr << input_path << ":" << error.line() << ": " << error.what() << "\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << input_path << ": " << error.what() << "\n";
    return 2;
  }
  std::ofstream output(output_path, std::ios::binary | std::ios::trunc);
  output.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  output.close();
  if (!output) {
    std::cerr << "qqwry-build: cannot write " << output_path << "\n";
    return 2;
  }
  return 0;
}
