#include "engine/run.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "engine/chunk_analyser.h"
#include "engine/file_locations.h"
#include "engine/line_source.h"
#include "engine/output_guard.h"
#include "engine/result_writer.h"
#include "engine/run_tuning.h"
#include "engine/stop_waker.h"
#include "engine/text_decode.h"
#include "ipdb/gbk.h"
#include "rules/compiled_rule_set.h"
#include "rules/rule_slots.h"

namespace ostrel {
namespace {

constexpr std::string_view kIisHeader =
    "日期 时间 服务器IP 请求的方法 URI资源 URI查询 端口号 用户名 客户端IP 物理地址 协议版本 "
    "客户端浏览器 Cookie 引用站点 主机头 协议状态 协议子状态 Win32状态 发送字节数 接收字节数 "
    "所用时长";
constexpr std::string_view kCommonHeader =
    "客户端IP 物理地址 浏览者标识 远程用户名 时间 时区 方法、资源Url、协议 协议状态码 字节数 "
    "请求的URL 浏览器信息";

// More workers than this only add memory (each keeps a block in flight).
constexpr unsigned kMaxJobs = 64;

// Blocks in flight hold at most about this many bytes, so a log of very long lines does
// not keep a full queue of huge blocks.
constexpr std::size_t kMaxBytesInFlight = std::size_t{512} << 20;

// One block of lines on its way through the run: read by the run's thread, analysed by
// a worker (or inline), then handed on by the run's thread in input order.
struct Slot {
  Chunk chunk;
  std::optional<W3cFields> fields;  // the W3C fields in effect at the block's start
  ChunkResult result;
  std::optional<std::string> read_error;  // reading stopped here; nothing to analyse
  bool done = false;                      // guarded by the analysers' mutex
};

// Analyses blocks on `jobs` worker threads, or on the calling thread when jobs is 1. Each
// thread makes its own ChunkAnalyser on first use, so nothing per-line is shared.
class BlockAnalysers {
 public:
  BlockAnalysers(unsigned jobs, const RunOptions& options, const TQQWry& ipdb,
                 const CompiledRuleSet& rules, const std::atomic<bool>& cancel)
      : options_(options), ipdb_(ipdb), rules_(rules), cancel_(cancel) {
    if (jobs <= 1) return;
    threads_.reserve(jobs);
    for (unsigned i = 0; i < jobs; ++i) threads_.emplace_back([this] { Work(); });
  }

  // Finishes the block in hand (cancelled blocks end early) and joins every worker.
  ~BlockAnalysers() {
    {
      std::lock_guard lock(mutex_);
      shutting_down_ = true;
    }
    work_ready_.notify_all();
    threads_.clear();  // joins
  }

  BlockAnalysers(const BlockAnalysers&) = delete;
  BlockAnalysers& operator=(const BlockAnalysers&) = delete;

  void Submit(Slot& slot) {
    if (threads_.empty()) {
      Analyse(inline_analyser_, slot);
      slot.done = true;
      return;
    }
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(&slot);
    }
    work_ready_.notify_one();
  }

  // Has the workers compile the rule slots among themselves, before they take blocks,
  // instead of each waiting for the slot that another one compiles. Once per run; nothing
  // with one job, which compiles each slot when it first needs it.
  void PrepareRules() {
    if (threads_.empty()) return;
    {
      std::lock_guard lock(mutex_);
      if (prepare_end_ != 0) return;
      prepare_end_ = rules_.slot_count();
    }
    work_ready_.notify_all();
  }

  void Wait(Slot& slot) {
    if (threads_.empty()) return;
    std::unique_lock lock(mutex_);
    slot_done_.wait(lock, [&slot] { return slot.done; });
  }

 private:
  void Analyse(std::optional<ChunkAnalyser>& analyser, Slot& slot) {
    try {
      if (!analyser) analyser.emplace(options_, ipdb_, rules_);
      analyser->Analyse(slot.chunk, slot.fields, slot.result, cancel_);
    } catch (const std::exception& error) {
      // Setting up the analyser failed; the block's first line carries the error.
      slot.result.failed = true;
      slot.result.error = error.what();
    }
  }

  void Work() {
    std::optional<ChunkAnalyser> analyser;
    for (;;) {
      Slot* slot = nullptr;
      std::size_t prepare = kNothingToPrepare;
      {
        std::unique_lock lock(mutex_);
        work_ready_.wait(lock, [this] {
          return shutting_down_ || !queue_.empty() || prepare_next_ < prepare_end_;
        });
        if (!shutting_down_ && prepare_next_ < prepare_end_) {
          prepare = prepare_next_++;
        } else if (queue_.empty()) {
          return;
        } else {
          slot = queue_.front();
          queue_.pop_front();
        }
      }
      if (prepare != kNothingToPrepare) {
        try {
          rules_.Prepare(prepare);
        } catch (const std::exception&) {
          // The block that reaches the slot compiles it again and reports the failure.
        }
        continue;
      }
      Analyse(analyser, *slot);
      {
        std::lock_guard lock(mutex_);
        slot->done = true;
      }
      slot_done_.notify_all();
    }
  }

  const RunOptions& options_;
  const TQQWry& ipdb_;
  const CompiledRuleSet& rules_;
  const std::atomic<bool>& cancel_;
  std::optional<ChunkAnalyser> inline_analyser_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable slot_done_;
  std::deque<Slot*> queue_;
  static constexpr std::size_t kNothingToPrepare = SIZE_MAX;
  std::size_t prepare_next_ = 0;  // the next rule slot to compile ahead, below prepare_end_
  std::size_t prepare_end_ = 0;
  bool shutting_down_ = false;
  std::vector<std::jthread> threads_;  // last: joined before the members they use go
};

std::string PathText(const std::filesystem::path& path) {
  return path == "-" ? std::string("标准输入") : path.string();
}

// The run itself: the outputs, the inputs in order.
class Run {
 public:
  Run(const RunOutputs& outputs, const RunOptions& options, const TQQWry& ipdb, RunSink& sink,
      std::stop_token stop, const RunTuning& tuning)
      : outputs_(outputs),
        options_(options),
        sink_(sink),
        stop_(std::move(stop)),
        tuning_(tuning),
        waker_(stop_),
        cancel_on_stop_(stop_, [this] { cancel_.store(true, std::memory_order_relaxed); }),
        jobs_(std::min(kMaxJobs, options.jobs != 0
                                     ? options.jobs
                                     : std::max(1u, std::thread::hardware_concurrency()))),
        rules_(SlotsOf(tuning), SlotCountOf(options.rule_set)),
        analysers_(jobs_, options_, ipdb, rules_, cancel_) {}

  RunSummary Execute(const std::vector<std::filesystem::path>& inputs) {
    OpenOutputs(inputs);
    if (options_.log_type != LogType::kAuto) {
      WriteHeader(std::string(ResultHeader(options_.log_type)), LayoutOfType(options_.log_type));
    }
    try {
      for (std::size_t i = 0; i < inputs.size() && !summary_.stopped; ++i) {
        if (stop_.stop_requested()) {
          summary_.stopped = true;
          break;
        }
        sink_.FileStarted(i, inputs.size(), inputs[i]);
        if (AnalyseFile(i, inputs[i])) {
          ++summary_.files;
          sink_.FileFinished(i);
        }
      }
    } catch (const RunError&) {
      throw;  // the outputs are closed already
    } catch (...) {
      // Anything else (a progress sink that throws, lack of memory) still leaves the hits
      // found so far on disk.
      cancel_.store(true, std::memory_order_relaxed);
      CloseOutputsQuietly();
      throw;
    }
    if (stop_.stop_requested()) summary_.stopped = true;
    CloseOutputs();
    return summary_;
  }

 private:
  static std::span<const std::string_view> SlotsOf(const RunTuning& tuning) {
    if (!tuning.cipher_slots.empty()) return tuning.cipher_slots;
    return StoredRuleSlots();
  }

  static LineLayout LayoutOfType(LogType type) {
    switch (type) {
      case LogType::kIis:
        return LineLayout::kIis;
      case LogType::kTomcat:
        return LineLayout::kTomcat;
      case LogType::kApache:
        return LineLayout::kApache;
      case LogType::kAuto:
        break;
    }
    return LineLayout::kUnknown;
  }

  // Checks every output against the inputs before anything is opened, then opens the
  // result file.
  void OpenOutputs(const std::vector<std::filesystem::path>& inputs) {
    std::vector<std::filesystem::path> written = outputs_.other_files;
    written.push_back(outputs_.result_path);
    for (const std::filesystem::path& output : written) {
      if (std::optional<std::string> clash = OutputIsAnInput(output, inputs)) {
        throw RunError(*clash, output, 0);
      }
    }
    if (!outputs_.result_path.empty()) {
      try {
        result_file_.emplace(outputs_.result_path, options_.encoding, &waker_);
      } catch (const ResultBusyError&) {
        throw RunError("结果文件 " + outputs_.result_path.string() +
                           " 正被另一个分析写入（另一个 ostrel 或 ostrel-cli 正在运行）；"
                           "本次分析未开始，该文件未改动。请等它结束，或换一个结果文件。",
                       outputs_.result_path, 0);
      } catch (const ResultWriteError& error) {
        throw RunError("无法写入结果文件 " + outputs_.result_path.string() + "：" + error.what(),
                       outputs_.result_path, 0);
      }
      sinks_.push_back(&*result_file_);
    }
    sinks_.insert(sinks_.end(), outputs_.sinks.begin(), outputs_.sinks.end());
  }

  void WriteHeader(const std::string& header, LineLayout layout) {
    header_written_ = true;
    summary_.header_layout = layout;
    for (HitSink* sink : sinks_) {
      try {
        sink->Header(header);
      } catch (const std::exception& error) {
        FailOutput(*sink, error);
      }
    }
  }

  void CloseOutputs() {
    if (!header_written_) {
      WriteHeader(LayoutResultHeader(LineLayout::kUnknown, std::nullopt), LineLayout::kUnknown);
    }
    for (HitSink* sink : sinks_) {
      try {
        sink->Finish(summary_);
      } catch (const std::exception& error) {
        FailOutput(*sink, error);
      }
    }
  }

  // Every output gets what was found before a failure; a second failure is not reported.
  void CloseOutputsQuietly(std::string* message = nullptr) {
    std::vector<HitSink*> sinks;
    sinks.swap(sinks_);
    for (HitSink* sink : sinks) {
      try {
        if (!header_written_ && sink == sinks.front()) {
          sink->Header(LayoutResultHeader(LineLayout::kUnknown, std::nullopt));
        }
        sink->Finish(summary_);
      } catch (const std::exception& error) {
        if (message != nullptr) {
          *message += "；" + sink->OutputName() + " 也无法写入：" + error.what();
        }
      }
    }
    header_written_ = true;
  }

  [[noreturn]] void FailOutput(HitSink& sink, const std::exception& error) {
    cancel_.store(true, std::memory_order_relaxed);
    const std::string name = sink.OutputName();
    const bool is_result = result_file_ && &sink == &*result_file_;
    std::erase(sinks_, &sink);
    CloseOutputsQuietly();
    throw RunError((is_result ? "无法写入结果文件 " : "无法写入 ") + name + "：" + error.what(),
                   is_result ? outputs_.result_path : std::filesystem::path(name), 0);
  }

  // Stops the run at `line` of `file`: every output gets what was found before, then the
  // error is raised.
  [[noreturn]] void Fail(const std::filesystem::path& file, std::uint64_t line,
                         std::string message) {
    cancel_.store(true, std::memory_order_relaxed);
    CloseOutputsQuietly(&message);
    throw RunError(message, file, line);
  }

  // Analyses one file; false when the stop token ended it early.
  bool AnalyseFile(std::size_t index, const std::filesystem::path& path) {
    summary_.per_file.emplace_back().path = path;
    std::uint64_t total = 0;
    std::optional<InputFile> file;
    std::optional<LogStream> stream;
    std::string_view head;
    try {
      file.emplace(path, &waker_);
      stream.emplace(*file);
      head = stream->Peek();
    } catch (const InputError& error) {
      Fail(path, 0, "无法读取文件 " + PathText(path) + "：" + error.what());
    }
    FileSummary& file_summary = summary_.per_file.back();
    file_summary.compression = CompressionName(stream->compression());
    if (LooksLikeBinary(head)) {
      // Not text and no compression we know: one huge "line" of noise helps nobody.
      file_summary.binary = true;
      file_summary.finished = true;
      return true;
    }
    file_summary.likely = GuessLayout(head);
    const bool compressed = stream->compression() != Compression::kNone;
    // A long run needs every slot; the workers compile them while the lines are counted.
    if (file->size_at_open() >= tuning_.prepare_rules_bytes) {
      analysers_.PrepareRules();
    }
    if (file->regular() && !compressed) {
      try {
        total = CountFileLines(path);
      } catch (const InputError& error) {
        Fail(path, 0, "无法读取文件 " + PathText(path) + "：" + error.what());
      }
    }
    ChunkReader reader(*stream, tuning_.block_bytes);
    std::optional<W3cFields> fields;  // the last "#Fields:" directive read (auto type)

    // A block per worker and two more, read ahead, so no worker waits for the reader. One
    // job holds two: the next block is read before one is handed on, so the file's end is
    // known when its last block is. More blocks only touch fresh memory, which is slow (on
    // virtual machines most of all).
    const std::size_t max_in_flight = jobs_ == 1 ? 2 : static_cast<std::size_t>(jobs_) + 2;
    std::deque<Slot*> in_flight;
    std::size_t bytes_in_flight = 0;
    std::uint64_t lines_done = 0;
    bool reading = true;
    bool writing = true;  // false once a block ended early: nothing after it is written
    for (;;) {
      while (reading && in_flight.size() < max_in_flight &&
             (in_flight.empty() || bytes_in_flight < kMaxBytesInFlight)) {
        if (stop_.stop_requested()) {
          reading = false;
          break;
        }
        Slot& slot = TakeSlot();
        try {
          if (!reader.Next(slot.chunk)) {
            free_slots_.push_back(&slot);
            reading = false;
            break;
          }
        } catch (const std::exception& error) {
          slot.read_error = error.what();
          slot.done = true;
          in_flight.push_back(&slot);
          reading = false;
          break;
        }
        if (options_.log_type == LogType::kAuto) {
          slot.fields = fields;
          if (const std::optional<std::string_view> directive =
                  LastFieldsDirective(slot.chunk.text())) {
            fields = W3cFields::FromDirective(*directive);
          }
        }
        bytes_in_flight += slot.chunk.capacity;
        in_flight.push_back(&slot);
        analysers_.Submit(slot);
      }
      if (in_flight.empty()) break;

      Slot& slot = *in_flight.front();
      analysers_.Wait(slot);
      in_flight.pop_front();
      bytes_in_flight -= std::min(bytes_in_flight, slot.chunk.capacity);
      free_slots_.push_back(&slot);
      if (!writing) continue;
      Deliver(slot, index, path, lines_done);
      lines_done += slot.result.lines;
      if (slot.read_error) {
        Fail(path, lines_done + 1,
             "无法读取文件 " + PathText(path) + " 第 " + std::to_string(lines_done + 1) + " 行：" +
                 *slot.read_error);
      }
      if (slot.result.failed) {
        Fail(path, lines_done + 1,
             "文件 " + PathText(path) + " 第 " + std::to_string(lines_done + 1) + " 行：" +
                 slot.result.error);
      }
      if (slot.result.lines > 0) {
        sink_.LineProgress(lines_done,
                           compressed ? EstimatedTotal(*file, lines_done, reading) : total,
                           summary_.hits);
      }
      if (slot.result.cancelled) writing = false;
      if (stop_.stop_requested()) reading = false;
    }
    if (stop_.stop_requested()) {
      summary_.stopped = true;
      return false;
    }
    file_summary.finished = true;
    file_summary.shrank = file->Shrank();
    return true;
  }

  // A compressed file has no counting pass: its line total is estimated from the share of
  // its bytes read so far, and is exact once it has been read.
  static std::uint64_t EstimatedTotal(const InputFile& file, std::uint64_t lines_done,
                                      bool reading) {
    if (!reading || file.size_at_open() == 0 || file.bytes_read() == 0) return lines_done;
    const double share =
        static_cast<double>(file.bytes_read()) / static_cast<double>(file.size_at_open());
    const auto estimate = static_cast<std::uint64_t>(static_cast<double>(lines_done) / share);
    return std::max(estimate, lines_done + 1);
  }

  // Hands a finished block's counts and hits on, in input order.
  void Deliver(const Slot& slot, std::size_t file_index, const std::filesystem::path& path,
               std::uint64_t lines_before) {
    const ChunkResult& result = slot.result;
    FileSummary& file_summary = summary_.per_file.back();
    if (file_summary.layout == LineLayout::kUnknown) file_summary.layout = result.first_layout;
    if (!header_written_ && result.first_layout != LineLayout::kUnknown) {
      WriteHeader(LayoutResultHeader(result.first_layout, result.first_fields),
                  result.first_layout);
    }
    file_summary.counts += result.counts;
    summary_.counts += result.counts;
    summary_.lines = summary_.counts.read;
    for (const StoredHit& stored : result.hits) {
      HitRecord hit;
      hit.file_index = file_index;
      hit.file = &path;
      hit.line_number = lines_before + stored.line_index + 1;
      hit.line = result.Text(stored.line);
      hit.client = result.Text(stored.client);
      hit.location = result.Text(stored.location);
      hit.subject = result.Text(stored.subject);
      hit.subject_b = result.Text(stored.subject_b);
      hit.status = result.Text(stored.status);
      hit.method = result.Text(stored.method);
      hit.time = result.Text(stored.time);
      hit.slot = stored.slot;
      hit.on_subject_b = stored.on_subject_b;
      hit.layout = stored.layout;
      for (HitSink* sink : sinks_) {
        try {
          sink->Hit(hit);
        } catch (const std::exception& error) {
          FailOutput(*sink, error);
        }
      }
    }
    summary_.hits = summary_.counts.hits;
  }

  Slot& TakeSlot() {
    if (free_slots_.empty()) {
      slots_.push_back(std::make_unique<Slot>());
      free_slots_.push_back(slots_.back().get());
    }
    Slot* slot = free_slots_.back();
    free_slots_.pop_back();
    // A block that grew for a very long line gives its memory back, so the queue holds
    // about block-sized buffers again.
    if (slot->chunk.capacity > 4 * tuning_.block_bytes) {
      slot->chunk.bytes.reset();
      slot->chunk.capacity = 0;
    }
    slot->result.Clear();
    if (slot->result.arena.capacity() > 4 * tuning_.block_bytes) {
      std::string().swap(slot->result.arena);
    }
    slot->read_error.reset();
    slot->fields.reset();
    slot->done = false;
    return *slot;
  }

  const RunOutputs& outputs_;
  const RunOptions& options_;
  RunSink& sink_;
  std::stop_token stop_;
  const RunTuning& tuning_;
  StopWaker waker_;
  std::atomic<bool> cancel_{false};
  std::stop_callback<std::function<void()>> cancel_on_stop_;
  unsigned jobs_;
  std::optional<ResultFileSink> result_file_;
  std::vector<HitSink*> sinks_;  // the result file first, then the caller's
  bool header_written_ = false;
  RunSummary summary_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<Slot*> free_slots_;
  const CompiledRuleSet rules_;  // one rule set for the whole run, shared by its workers
  BlockAnalysers analysers_;     // last: its workers stop before the slots they use go
};

}  // namespace

RunSummary RunAnalysisTuned(const std::vector<std::filesystem::path>& inputs,
                            const RunOutputs& outputs, const RunOptions& options,
                            const TQQWry& ipdb, RunSink& sink, std::stop_token stop,
                            const RunTuning& tuning) {
  Run run(outputs, options, ipdb, sink, std::move(stop), tuning);
  return run.Execute(inputs);
}

RunSummary RunAnalysisToOutputs(const std::vector<std::filesystem::path>& inputs,
                                const RunOutputs& outputs, const RunOptions& options,
                                const TQQWry& ipdb, RunSink& sink, std::stop_token stop) {
  return RunAnalysisTuned(inputs, outputs, options, ipdb, sink, std::move(stop), RunTuning{});
}

RunSummary RunAnalysis(const std::vector<std::filesystem::path>& inputs,
                       const std::filesystem::path& result_path, const RunOptions& options,
                       const TQQWry& ipdb, RunSink& sink, std::stop_token stop) {
  return RunAnalysisTuned(inputs, RunOutputs(result_path), options, ipdb, sink, std::move(stop),
                          RunTuning{});
}

std::string_view ResultHeader(LogType log_type) {
  return log_type == LogType::kIis ? kIisHeader : kCommonHeader;
}

std::string LayoutResultHeader(LineLayout layout, const std::optional<W3cFields>& fields) {
  switch (layout) {
    case LineLayout::kIis:
      return std::string(kIisHeader);
    case LineLayout::kW3c:
      if (fields) return fields->ResultHeader();
      return std::string(kIisHeader);
    case LineLayout::kVhostCombined:
      return "主机头 " + std::string(kCommonHeader);
    case LineLayout::kTomcat:
    case LineLayout::kApache:
    case LineLayout::kCommon:
    case LineLayout::kCombined:
    case LineLayout::kUnknown:
      break;
  }
  return std::string(kCommonHeader);
}

LineCounts& LineCounts::operator+=(const LineCounts& other) {
  read += other.read;
  examined += other.examined;
  comments += other.comments;
  wrong_shape += other.wrong_shape;
  other_protocol += other.other_protocol;
  not_http += other.not_http;
  static_dropped += other.static_dropped;
  status_dropped += other.status_dropped;
  limited += other.limited;
  hits += other.hits;
  unlocated += other.unlocated;
  return *this;
}

int PercentDone(std::int64_t done, std::int64_t total) {
  if (total <= 0) return 0;
  const double r = static_cast<double>(done) / static_cast<double>(total);
  // rint under the default rounding mode rounds ties to even; the product with 0.01 is
  // not exact, which is why 29 of 100 shows 28.
  const double q = std::rint(r * 100.0) * 0.01;
  const double percent = std::trunc(q * 100.0);
  if (!(percent > 0.0)) return 0;
  if (percent >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  return static_cast<int>(percent);
}

std::string StatusPanel1Text(std::uint64_t line_number, std::uint64_t line_total,
                             std::uint64_t hit_count) {
  const auto clamp = [](std::uint64_t value) {
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(value, std::numeric_limits<std::int64_t>::max()));
  };
  return " 比对【 " + std::to_string(line_number) + " 】行，进度：" +
         std::to_string(PercentDone(clamp(line_number), clamp(line_total))) + "%， 检中 " +
         std::to_string(hit_count) + " 个。";
}

std::string StatusPanel2Text(std::string_view file_name, std::size_t index_1based,
                             std::size_t count) {
  return "当前文件：" + std::string(file_name) + " (" + std::to_string(index_1based) + "/" +
         std::to_string(count) + ")";
}

std::filesystem::path DefaultResultFilePath() {
  return FileLocations::ForThisProcess().ResultFile();
}

}  // namespace ostrel
