#include "engine/decompressor.h"

#include <bzlib.h>
#include <isa-l/igzip_lib.h>
#include <lzma.h>
#include <zstd.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

namespace ostrel {
namespace {

constexpr unsigned kStepLimit = UINT_MAX / 2;  // the libraries count in unsigned int

unsigned Clamp(std::size_t size) {
  return static_cast<unsigned>(size < kStepLimit ? size : kStepLimit);
}

class GzipDecompressor final : public Decompressor {
 public:
  GzipDecompressor() { Restart(); }

  bool Step(const unsigned char*& in, std::size_t& in_size, unsigned char*& out,
            std::size_t& out_size) override {
    state_.next_in = const_cast<unsigned char*>(in);
    state_.avail_in = Clamp(in_size);
    state_.next_out = out;
    state_.avail_out = Clamp(out_size);
    const unsigned in_before = state_.avail_in;
    const unsigned out_before = state_.avail_out;
    const int rc = isal_inflate(&state_);
    in += in_before - state_.avail_in;
    in_size -= in_before - state_.avail_in;
    out += out_before - state_.avail_out;
    out_size -= out_before - state_.avail_out;
    if (rc != ISAL_DECOMP_OK) {
      throw std::runtime_error("gzip 数据已损坏（错误 " + std::to_string(rc) + "）");
    }
    return state_.block_state == ISAL_BLOCK_FINISH;
  }

  void Restart() override {
    isal_inflate_init(&state_);
    state_.crc_flag = ISAL_GZIP;  // the header is read and the CRC checked
  }

 private:
  inflate_state state_{};
};

class Bzip2Decompressor final : public Decompressor {
 public:
  Bzip2Decompressor() { Restart(); }
  ~Bzip2Decompressor() override { End(); }

  bool Step(const unsigned char*& in, std::size_t& in_size, unsigned char*& out,
            std::size_t& out_size) override {
    stream_.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
    stream_.avail_in = Clamp(in_size);
    stream_.next_out = reinterpret_cast<char*>(out);
    stream_.avail_out = Clamp(out_size);
    const unsigned in_before = stream_.avail_in;
    const unsigned out_before = stream_.avail_out;
    const int rc = BZ2_bzDecompress(&stream_);
    in += in_before - stream_.avail_in;
    in_size -= in_before - stream_.avail_in;
    out += out_before - stream_.avail_out;
    out_size -= out_before - stream_.avail_out;
    if (rc == BZ_STREAM_END) return true;
    if (rc != BZ_OK)
      throw std::runtime_error("bzip2 数据已损坏（错误 " + std::to_string(rc) + "）");
    return false;
  }

  void Restart() override {
    End();
    std::memset(&stream_, 0, sizeof stream_);
    if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) {
      throw std::runtime_error("无法准备 bzip2 解压");
    }
    open_ = true;
  }

 private:
  void End() {
    if (open_) BZ2_bzDecompressEnd(&stream_);
    open_ = false;
  }
  bz_stream stream_{};
  bool open_ = false;
};

class XzDecompressor final : public Decompressor {
 public:
  XzDecompressor() { Restart(); }
  ~XzDecompressor() override { lzma_end(&stream_); }

  bool Step(const unsigned char*& in, std::size_t& in_size, unsigned char*& out,
            std::size_t& out_size) override {
    stream_.next_in = in;
    stream_.avail_in = in_size;
    stream_.next_out = out;
    stream_.avail_out = out_size;
    // Without more input at hand the decoder is told so, which ends a stream cleanly.
    const lzma_ret rc = lzma_code(&stream_, in_size == 0 ? LZMA_FINISH : LZMA_RUN);
    in_size = stream_.avail_in;
    in = stream_.next_in;
    out_size = stream_.avail_out;
    out = stream_.next_out;
    if (rc == LZMA_STREAM_END) return true;
    if (rc != LZMA_OK && rc != LZMA_BUF_ERROR) {
      throw std::runtime_error("xz 数据已损坏（错误 " + std::to_string(rc) + "）");
    }
    return false;
  }

  void Restart() override {
    lzma_end(&stream_);
    stream_ = LZMA_STREAM_INIT;
    // LZMA_CONCATENATED reads every stream of a concatenated file itself.
    if (lzma_stream_decoder(&stream_, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) {
      throw std::runtime_error("无法准备 xz 解压");
    }
  }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

class ZstdDecompressor final : public Decompressor {
 public:
  ZstdDecompressor() : stream_(ZSTD_createDStream()) {
    if (stream_ == nullptr) throw std::runtime_error("无法准备 zstd 解压");
    Restart();
  }
  ~ZstdDecompressor() override { ZSTD_freeDStream(stream_); }

  bool Step(const unsigned char*& in, std::size_t& in_size, unsigned char*& out,
            std::size_t& out_size) override {
    ZSTD_inBuffer source{in, in_size, 0};
    ZSTD_outBuffer target{out, out_size, 0};
    const std::size_t rc = ZSTD_decompressStream(stream_, &target, &source);
    in += source.pos;
    in_size -= source.pos;
    out += target.pos;
    out_size -= target.pos;
    if (ZSTD_isError(rc) != 0) {
      throw std::runtime_error(std::string("zstd 数据已损坏：") + ZSTD_getErrorName(rc));
    }
    return rc == 0;  // a frame is complete; the next one starts with a fresh call
  }

  void Restart() override { ZSTD_initDStream(stream_); }

 private:
  ZSTD_DStream* stream_;
};

}  // namespace

std::string_view CompressionName(Compression compression) {
  switch (compression) {
    case Compression::kGzip:
      return "gzip";
    case Compression::kBzip2:
      return "bzip2";
    case Compression::kXz:
      return "xz";
    case Compression::kZstd:
      return "zstd";
    case Compression::kNone:
      break;
  }
  return "";
}

Compression DetectCompression(std::string_view head) {
  const auto starts = [&](std::string_view magic) { return head.starts_with(magic); };
  if (starts("\x1f\x8b\x08")) return Compression::kGzip;
  if (head.size() >= 4 && starts("BZh") && head[3] >= '1' && head[3] <= '9') {
    return Compression::kBzip2;
  }
  if (starts(std::string_view("\xfd"
                              "7zXZ\x00",
                              6)))
    return Compression::kXz;
  if (starts("\x28\xb5\x2f\xfd")) return Compression::kZstd;
  return Compression::kNone;
}

std::unique_ptr<Decompressor> Decompressor::For(Compression compression) {
  switch (compression) {
    case Compression::kGzip:
      return std::make_unique<GzipDecompressor>();
    case Compression::kBzip2:
      return std::make_unique<Bzip2Decompressor>();
    case Compression::kXz:
      return std::make_unique<XzDecompressor>();
    case Compression::kZstd:
      return std::make_unique<ZstdDecompressor>();
    case Compression::kNone:
      break;
  }
  return nullptr;
}

}  // namespace ostrel
