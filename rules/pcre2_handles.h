#pragma once

// Internal to rules/: the PCRE2 handles and the options shared by IsMatch and
// CompiledRuleSet, so that both compile and match the same way.

#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 8
#endif
#include <pcre2.h>

#include <cstdint>
#include <memory>
#include <string_view>

namespace ostrel::pcre2 {

// PCRE2 takes the newline convention (PCRE2_NEWLINE_ANY) through the compile context,
// not as an option bit; Compile() sets it there.
inline constexpr std::uint32_t kCompileOptions = PCRE2_UTF;
inline constexpr std::uint32_t kNewline = PCRE2_NEWLINE_ANY;
inline constexpr std::uint32_t kMatchOptions = PCRE2_NOTEMPTY | PCRE2_NO_UTF_CHECK;

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct CompileContextDeleter {
  void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct JitStackDeleter {
  void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchDataPtr = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;
using MatchContextPtr = std::unique_ptr<pcre2_match_context, MatchContextDeleter>;
using JitStackPtr = std::unique_ptr<pcre2_jit_stack, JitStackDeleter>;

// Compiles pattern with kCompileOptions and the newline convention kNewline. Throws
// ERegularExpressionError for an empty pattern or a compile error (with PCRE2's offset and
// message). Never returns null.
CodePtr Compile(std::string_view pattern);

// A match context with the match and depth limits set. Throws std::bad_alloc.
MatchContextPtr MakeLimitedMatchContext();

// Match data with room for the whole-match pair only: only the fact of a match is used.
// Throws std::bad_alloc.
MatchDataPtr MakeMatchData();

// The outcome of one pcre2_match call.
enum class Outcome { kMatch, kNoMatch, kLimit };
Outcome Classify(int rc);

// JIT-compiles `code` (PCRE2_JIT_COMPLETE); false when PCRE2 has no JIT for this pattern or
// platform, which leaves the interpreter: same answers, only slower.
bool JitCompile(pcre2_code* code);

// A JIT stack that grows on demand, assigned to `context`. Without one (lack of memory) JIT
// uses 32 KiB of the machine stack, which is still correct: a pattern that needs more
// reaches a limit and is run again by the interpreter.
JitStackPtr AssignJitStack(pcre2_match_context* context);

// One unanchored match with kMatchOptions under the limits of `context`. When JIT code
// stops at a limit the interpreter runs the match again, since JIT counts its limits
// differently and IsMatch's answer is the interpreter's.
Outcome MatchOnce(const pcre2_code* code, bool jit, std::string_view subject,
                  pcre2_match_data* data, pcre2_match_context* context);

// The subject as PCRE2 takes it; never null, since PCRE2 10.42 refuses a null subject even
// of length zero.
inline PCRE2_SPTR SubjectPointer(std::string_view subject) {
  return reinterpret_cast<PCRE2_SPTR>(subject.data() != nullptr ? subject.data() : "");
}

// Strict UTF-8 check (no overlong forms, no surrogates, nothing above U+10FFFF), the
// same validity PCRE2 demands of a subject.
bool IsValidUtf8(std::string_view text);

}  // namespace ostrel::pcre2
