#pragma once

// Compressed logs, recognised by their magic bytes (never by their names): gzip (through
// ISA-L's igzip, several times faster than zlib), bzip2, xz and zstd. Concatenated members
// or frames, as `cat a.gz b.gz` gives, are read one after the other.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace ostrel {

enum class Compression : std::uint8_t { kNone, kGzip, kBzip2, kXz, kZstd };

// "gzip", "bzip2", "xz", "zstd", or "" for kNone.
std::string_view CompressionName(Compression compression);

// The compression whose magic bytes begin `head` (kNone when too short to tell).
Compression DetectCompression(std::string_view head);

// Turns compressed bytes into plain ones, a step at a time. Not thread-safe.
class Decompressor {
 public:
  // Throws std::runtime_error when the library cannot be set up (lack of memory).
  static std::unique_ptr<Decompressor> For(Compression compression);
  virtual ~Decompressor() = default;

  // Decompresses from `in` (advanced past what was used) into `out` (advanced past what
  // was written). Gives true when the stream ended with this step; a later member or
  // frame then needs Restart(). Throws std::runtime_error for corrupt data.
  virtual bool Step(const unsigned char*& in, std::size_t& in_size, unsigned char*& out,
                    std::size_t& out_size) = 0;
  // Prepares for a further member or frame after the end of one.
  virtual void Restart() = 0;
};

}  // namespace ostrel
