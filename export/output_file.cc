#include "export/output_file.h"

namespace ostrel {

ResultWriter& OutputFile::Writer() {
  if (closed_) throw ResultWriteError("already closed");
  if (!writer_) writer_.emplace(path_, waker_);
  return *writer_;
}

void OutputFile::Close() {
  Writer().Close();
  closed_ = true;
}

std::string OutputFile::Name() const {
  return path_ == "-" ? std::string("标准输出") : path_.string();
}

}  // namespace ostrel
