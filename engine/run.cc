#include "engine/run.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
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
#include "engine/result_writer.h"
#include "engine/run_tuning.h"
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

// More workers than this only add memory (each keeps two blocks in flight).
constexpr unsigned kMaxJobs = 64;

// One block of lines on its way through the run: read by the run's thread, analysed by
// a worker (or inline), then written by the run's thread in input order.
struct Slot {
  Chunk chunk;
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

  void Wait(Slot& slot) {
    if (threads_.empty()) return;
    std::unique_lock lock(mutex_);
    slot_done_.wait(lock, [&slot] { return slot.done; });
  }

 private:
  void Analyse(std::optional<ChunkAnalyser>& analyser, Slot& slot) {
    try {
      if (!analyser) analyser.emplace(options_, ipdb_, rules_);
      analyser->Analyse(slot.chunk, slot.result, cancel_);
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
      {
        std::unique_lock lock(mutex_);
        work_ready_.wait(lock, [this] { return shutting_down_ || !queue_.empty(); });
        if (queue_.empty()) return;
        slot = queue_.front();
        queue_.pop_front();
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
  bool shutting_down_ = false;
  std::vector<std::jthread> threads_;  // last: joined before the members they use go
};

std::string PathText(const std::filesystem::path& path) {
  return path == "-" ? std::string("标准输入") : path.string();
}

// The run itself: one result file, the inputs in order.
class Run {
 public:
  Run(const std::filesystem::path& result_path, const RunOptions& options, const TQQWry& ipdb,
      RunSink& sink, std::stop_token stop, const RunTuning& tuning)
      : result_path_(result_path),
        options_(options),
        sink_(sink),
        stop_(std::move(stop)),
        tuning_(tuning),
        cancel_on_stop_(stop_, [this] { cancel_.store(true, std::memory_order_relaxed); }),
        jobs_(std::min(kMaxJobs, options.jobs != 0
                                     ? options.jobs
                                     : std::max(1u, std::thread::hardware_concurrency()))),
        rules_(SlotsOf(tuning), SlotCountOf(options.rule_set)),
        analysers_(jobs_, options_, ipdb, rules_, cancel_) {}

  RunSummary Execute(const std::vector<std::filesystem::path>& inputs) {
    OpenResult();
    try {
      for (std::size_t i = 0; i < inputs.size() && !summary_.stopped; ++i) {
        if (stop_.stop_requested()) {
          summary_.stopped = true;
          break;
        }
        sink_.FileStarted(i, inputs.size(), inputs[i]);
        if (AnalyseFile(inputs[i])) {
          ++summary_.files;
          sink_.FileFinished(i);
        }
      }
    } catch (const RunError&) {
      throw;  // the result file is closed already
    } catch (...) {
      // Anything else (a sink that throws, lack of memory) still leaves the hits found so
      // far on disk.
      cancel_.store(true, std::memory_order_relaxed);
      if (writer_) {
        try {
          writer_->Close();
        } catch (const ResultWriteError&) {
        }
      }
      throw;
    }
    CloseResult();
    return summary_;
  }

 private:
  static std::span<const std::string_view> SlotsOf(const RunTuning& tuning) {
    if (!tuning.cipher_slots.empty()) return tuning.cipher_slots;
    return StoredRuleSlots();
  }

  void OpenResult() {
    try {
      writer_.emplace(result_path_);
      std::string header;
      AppendResultLine(ResultHeader(options_.log_type), options_.encoding, header);
      writer_->Append(header);
    } catch (const ResultWriteError& error) {
      FailWrite(error);
    }
  }

  void CloseResult() {
    try {
      writer_->Close();
    } catch (const ResultWriteError& error) {
      FailWrite(error);
    }
  }

  [[noreturn]] void FailWrite(const ResultWriteError& error) {
    cancel_.store(true, std::memory_order_relaxed);
    writer_.reset();
    throw RunError("无法写入结果文件 " + result_path_.string() + "：" + error.what(), result_path_,
                   0);
  }

  // Stops the run at `line` of `file`: what was written so far is flushed and the result
  // file closed before the error is raised.
  [[noreturn]] void Fail(const std::filesystem::path& file, std::uint64_t line,
                         std::string message) {
    cancel_.store(true, std::memory_order_relaxed);
    try {
      writer_->Close();
    } catch (const ResultWriteError& error) {
      message += std::string("；结果文件也无法写入：") + error.what();
    }
    writer_.reset();
    throw RunError(message, file, line);
  }

  // Analyses one file; false when the stop token ended it early.
  bool AnalyseFile(const std::filesystem::path& path) {
    std::uint64_t total = 0;
    std::optional<InputFile> file;
    try {
      file.emplace(path);
      if (file->regular()) total = CountFileLines(path);
    } catch (const InputError& error) {
      Fail(path, 0, "无法读取文件 " + PathText(path) + "：" + error.what());
    }
    ChunkReader reader(*file, tuning_.block_bytes);

    const std::size_t max_in_flight = 2 * static_cast<std::size_t>(jobs_) + 2;
    std::deque<Slot*> in_flight;
    std::uint64_t lines_done = 0;
    bool reading = true;
    bool writing = true;  // false once a block ended early: nothing after it is written
    for (;;) {
      while (reading && in_flight.size() < max_in_flight) {
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
        in_flight.push_back(&slot);
        analysers_.Submit(slot);
      }
      if (in_flight.empty()) break;

      Slot& slot = *in_flight.front();
      analysers_.Wait(slot);
      in_flight.pop_front();
      free_slots_.push_back(&slot);
      if (!writing) continue;
      WriteHits(slot.result);
      lines_done += slot.result.lines;
      summary_.lines += slot.result.lines;
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
      if (slot.result.lines > 0) sink_.LineProgress(lines_done, total, summary_.hits);
      if (slot.result.cancelled) writing = false;
      if (stop_.stop_requested()) reading = false;
    }
    if (stop_.stop_requested()) {
      summary_.stopped = true;
      return false;
    }
    return true;
  }

  void WriteHits(const ChunkResult& result) {
    if (result.hits.empty()) return;
    try {
      writer_->Append(result.hits);
    } catch (const ResultWriteError& error) {
      FailWrite(error);
    }
    summary_.hits += result.hit_count;
  }

  Slot& TakeSlot() {
    if (free_slots_.empty()) {
      slots_.push_back(std::make_unique<Slot>());
      free_slots_.push_back(slots_.back().get());
    }
    Slot* slot = free_slots_.back();
    free_slots_.pop_back();
    slot->result.Clear();
    slot->read_error.reset();
    slot->done = false;
    return *slot;
  }

  const std::filesystem::path& result_path_;
  const RunOptions& options_;
  RunSink& sink_;
  std::stop_token stop_;
  const RunTuning& tuning_;
  std::atomic<bool> cancel_{false};
  std::stop_callback<std::function<void()>> cancel_on_stop_;
  unsigned jobs_;
  std::optional<ResultWriter> writer_;
  RunSummary summary_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<Slot*> free_slots_;
  const CompiledRuleSet rules_;  // one rule set for the whole run, shared by its workers
  BlockAnalysers analysers_;     // last: its workers stop before the slots they use go
};

}  // namespace

RunSummary RunAnalysisTuned(const std::vector<std::filesystem::path>& inputs,
                            const std::filesystem::path& result_path, const RunOptions& options,
                            const TQQWry& ipdb, RunSink& sink, std::stop_token stop,
                            const RunTuning& tuning) {
  Run run(result_path, options, ipdb, sink, std::move(stop), tuning);
  return run.Execute(inputs);
}

RunSummary RunAnalysis(const std::vector<std::filesystem::path>& inputs,
                       const std::filesystem::path& result_path, const RunOptions& options,
                       const TQQWry& ipdb, RunSink& sink, std::stop_token stop) {
  return RunAnalysisTuned(inputs, result_path, options, ipdb, sink, std::move(stop), RunTuning{});
}

std::string_view ResultHeader(LogType log_type) {
  return log_type == LogType::kIis ? kIisHeader : kCommonHeader;
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
