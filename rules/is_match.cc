#include "rules/is_match.h"

#include <cassert>
#include <cstddef>
#include <new>
#include <string>

#include "rules/pcre2_handles.h"

namespace ostrel {
namespace pcre2 {

CodePtr Compile(std::string_view pattern) {
  if (pattern.empty()) throw ERegularExpressionError(std::string(kEmptyPatternMessage));
  const std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(
      pcre2_compile_context_create(nullptr));
  if (!context) throw std::bad_alloc();
  pcre2_set_newline(context.get(), kNewline);
  int error_code = 0;
  PCRE2_SIZE error_offset = 0;
  CodePtr code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                             kCompileOptions, &error_code, &error_offset, context.get()));
  if (code) return code;
  if (error_code == PCRE2_ERROR_NOMEMORY) throw std::bad_alloc();
  PCRE2_UCHAR text[256];
  if (pcre2_get_error_message(error_code, text, sizeof text) < 0) text[0] = 0;
  throw ERegularExpressionError("Error in regular expression at offset " +
                                std::to_string(error_offset) + ": " +
                                reinterpret_cast<const char*>(text));
}

MatchContextPtr MakeLimitedMatchContext() {
  MatchContextPtr context(pcre2_match_context_create(nullptr));
  if (!context) throw std::bad_alloc();
  pcre2_set_match_limit(context.get(), kMatchLimit);
  pcre2_set_depth_limit(context.get(), kDepthLimit);
  return context;
}

MatchDataPtr MakeMatchData() {
  MatchDataPtr data(pcre2_match_data_create(1, nullptr));
  if (!data) throw std::bad_alloc();
  return data;
}

Outcome Classify(int rc) {
  // rc == 0 means a match whose captures did not fit; we only need the fact.
  if (rc >= 0) return Outcome::kMatch;
  switch (rc) {
    case PCRE2_ERROR_MATCHLIMIT:
    case PCRE2_ERROR_DEPTHLIMIT:
    case PCRE2_ERROR_HEAPLIMIT:
    case PCRE2_ERROR_JIT_STACKLIMIT:
    case PCRE2_ERROR_NOMEMORY:
      return Outcome::kLimit;
    default:
      return Outcome::kNoMatch;
  }
}

bool JitCompile(pcre2_code* code) { return pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0; }

JitStackPtr AssignJitStack(pcre2_match_context* context) {
  constexpr std::size_t kJitStackStart = 32 * 1024;
  constexpr std::size_t kJitStackMax = 1024 * 1024;
  JitStackPtr stack(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
  if (stack) pcre2_jit_stack_assign(context, nullptr, stack.get());
  return stack;
}

Outcome MatchOnce(const pcre2_code* code, bool jit, std::string_view subject,
                  pcre2_match_data* data, pcre2_match_context* context) {
  const PCRE2_SPTR pointer = SubjectPointer(subject);
  Outcome outcome =
      Classify(pcre2_match(code, pointer, subject.size(), 0, kMatchOptions, data, context));
  if (jit && outcome == Outcome::kLimit) {
    outcome = Classify(
        pcre2_match(code, pointer, subject.size(), 0, kMatchOptions | PCRE2_NO_JIT, data, context));
  }
  return outcome;
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char lead = p[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    if (p[i + 1] < low || p[i + 1] > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace pcre2

bool IsMatch(std::string_view subject, std::string_view pattern) {
  assert(pcre2::IsValidUtf8(subject) && "IsMatch needs a valid UTF-8 subject");
  const pcre2::CodePtr code = pcre2::Compile(pattern);
  const pcre2::MatchDataPtr data = pcre2::MakeMatchData();
  const pcre2::MatchContextPtr context = pcre2::MakeLimitedMatchContext();
  const int rc = pcre2_match(code.get(), pcre2::SubjectPointer(subject), subject.size(), 0,
                             pcre2::kMatchOptions, data.get(), context.get());
  return pcre2::Classify(rc) == pcre2::Outcome::kMatch;
}

}  // namespace ostrel
