#include "rules/literal_gate.h"

#include <hs/hs.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

namespace ostrel {
namespace {

using LiteralSet = std::set<std::string>;

// Exact sets (all strings a node can match) are kept only while this small.
constexpr std::size_t kMaxExact = 2000;
// Classes of at most this many characters are followed (a digit is one of ten).
constexpr std::uint32_t kMaxClass = 10;
// Prefix sets are kept while this small.
constexpr std::size_t kMaxPrefixSet = 5000;
// Longest run of concatenated exact factors whose product is tried as a requirement.
constexpr std::size_t kMaxRun = 12;

struct ParseError {};

// A node of the pattern's tree. Groups leave no node of their own: a capturing or
// non-capturing group is its inner alternation.
struct Node {
  enum class Kind {
    kLiteral,    // text: one character's UTF-8 bytes
    kAny,        // consumes something the analysis does not follow (., \d, back reference)
    kEmpty,      // consumes nothing (anchors, look-arounds, a DEFINE block)
    kStart,      // ^: consumes nothing, stands at the start of the subject
    kAhead,      // a positive look-ahead: consumes nothing, kids[0] must match where it stands
    kClass,      // text: the class's characters when it is small, positive and plain
    kConcat,     // kids in order
    kAlternate,  // kids are the alternatives
    kRepeat,     // kids[0] repeated min..max times (max < 0: unbounded)
    kCall,       // name: a call of a named group
  };
  Kind kind = Kind::kEmpty;
  std::string text;
  std::vector<std::size_t> kids;
  int min = 0;
  int max = 0;
  std::string name;
};

void AppendUtf8(std::uint32_t code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A strict parser of the pattern subset the rule slots use; anything else is a ParseError.
class Parser {
 public:
  explicit Parser(std::string_view pattern) : p_(pattern) {}

  std::size_t ParseAll() {
    const std::size_t root = ParseAlternation();
    if (pos_ != p_.size()) throw ParseError{};
    return root;
  }

  std::vector<Node> nodes;
  std::map<std::string, std::size_t, std::less<>> groups;

 private:
  bool AtEnd() const { return pos_ >= p_.size(); }
  char Peek() const { return AtEnd() ? '\0' : p_[pos_]; }
  char Take() {
    if (AtEnd()) throw ParseError{};
    return p_[pos_++];
  }
  bool Accept(std::string_view text) {
    if (p_.substr(pos_, text.size()) != text) return false;
    pos_ += text.size();
    return true;
  }
  std::size_t Add(Node node) {
    nodes.push_back(std::move(node));
    return nodes.size() - 1;
  }
  std::size_t AddKind(Node::Kind kind) {
    Node node;
    node.kind = kind;
    return Add(std::move(node));
  }
  std::size_t AddLiteral(std::uint32_t code) {
    Node node;
    node.kind = Node::Kind::kLiteral;
    AppendUtf8(code, node.text);
    return Add(std::move(node));
  }

  std::size_t ParseAlternation() {
    Node alternation;
    alternation.kind = Node::Kind::kAlternate;
    alternation.kids.push_back(ParseConcat());
    while (Peek() == '|' && !AtEnd()) {
      ++pos_;
      alternation.kids.push_back(ParseConcat());
    }
    if (alternation.kids.size() == 1) return alternation.kids[0];
    return Add(std::move(alternation));
  }

  std::size_t ParseConcat() {
    Node concat;
    concat.kind = Node::Kind::kConcat;
    while (!AtEnd() && Peek() != '|' && Peek() != ')') {
      concat.kids.push_back(ParseQuantified());
    }
    return Add(std::move(concat));
  }

  // Reads digits; -1 when there are none.
  int ReadNumber() {
    int value = -1;
    while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
      value = (value < 0 ? 0 : value) * 10 + (Take() - '0');
      if (value > 65535) throw ParseError{};
    }
    return value;
  }

  std::size_t ParseQuantified() {
    std::size_t atom = ParseAtom();
    int min = 0;
    int max = 0;
    const char c = Peek();
    if (AtEnd()) return atom;
    if (c == '*') {
      ++pos_;
      min = 0;
      max = -1;
    } else if (c == '+') {
      ++pos_;
      min = 1;
      max = -1;
    } else if (c == '?') {
      ++pos_;
      min = 0;
      max = 1;
    } else if (c == '{') {
      ++pos_;
      min = ReadNumber();
      if (min < 0) throw ParseError{};
      if (Accept("}")) {
        max = min;
      } else {
        if (!Accept(",")) throw ParseError{};
        max = ReadNumber();
        if (!Accept("}")) throw ParseError{};
        if (max >= 0 && max < min) throw ParseError{};
      }
    } else {
      return atom;
    }
    // Lazy and possessive forms consume concatenations of the same pieces.
    if (Peek() == '+' || Peek() == '?') ++pos_;
    if (!AtEnd() && (Peek() == '*' || Peek() == '+' || Peek() == '?' || Peek() == '{')) {
      throw ParseError{};
    }
    Node repeat;
    repeat.kind = Node::Kind::kRepeat;
    repeat.kids.push_back(atom);
    repeat.min = min;
    repeat.max = max;
    return Add(std::move(repeat));
  }

  std::string ReadName(char end) {
    std::string name;
    while (!AtEnd() && Peek() != end) {
      const char c = Take();
      if (!IsAsciiAlnum(c) && c != '_') throw ParseError{};
      name.push_back(c);
    }
    if (name.empty() || !Accept(std::string_view(&end, 1))) throw ParseError{};
    return name;
  }

  std::size_t ParseGroupBody() {
    const std::size_t inner = ParseAlternation();
    if (!Accept(")")) throw ParseError{};
    return inner;
  }

  std::size_t ParseGroup() {
    if (!Accept("?")) return ParseGroupBody();
    if (Accept(":") || Accept(">")) return ParseGroupBody();
    if (Accept("=")) {
      Node ahead;
      ahead.kind = Node::Kind::kAhead;
      ahead.kids.push_back(ParseGroupBody());
      return Add(std::move(ahead));
    }
    if (Accept("!") || Accept("<=") || Accept("<!")) {
      ParseGroupBody();
      return AddKind(Node::Kind::kEmpty);
    }
    if (Accept("(DEFINE)")) {
      ParseGroupBody();
      return AddKind(Node::Kind::kEmpty);
    }
    if (Accept("&")) {
      Node call;
      call.kind = Node::Kind::kCall;
      call.name = ReadName(')');
      return Add(std::move(call));
    }
    if (Accept("<")) {
      std::string name = ReadName('>');
      const std::size_t inner = ParseGroupBody();
      if (!groups.emplace(std::move(name), inner).second) throw ParseError{};
      return inner;
    }
    // Flags, comments, branch resets, conditions: not followed.
    throw ParseError{};
  }

  std::uint32_t ParseHex() {
    std::uint32_t code = 0;
    if (Accept("{")) {
      int digits = 0;
      while (!AtEnd() && Peek() != '}') {
        const int value = HexValue(Take());
        if (value < 0 || ++digits > 6) throw ParseError{};
        code = code * 16 + static_cast<std::uint32_t>(value);
      }
      if (digits == 0 || !Accept("}")) throw ParseError{};
    } else {
      for (int digits = 0; digits < 2 && HexValue(Peek()) >= 0 && !AtEnd(); ++digits) {
        code = code * 16 + static_cast<std::uint32_t>(HexValue(Take()));
      }
    }
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) throw ParseError{};
    return code;
  }

  // The character of a single-character escape (after the backslash), or -1 when the
  // escape is not one.
  int SimpleEscape(char c) {
    switch (c) {
      case 'n':
        return '\n';
      case 'r':
        return '\r';
      case 't':
        return '\t';
      case 'f':
        return '\f';
      case 'e':
        return 0x1B;
      case 'a':
        return 0x07;
      case 'x':
        return static_cast<int>(ParseHex());
      default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x80 && !IsAsciiAlnum(c)) return c;
    return -1;
  }

  std::size_t ParseEscape() {
    const char c = Take();
    if (c == 's' || c == 'd') {
      // Without Unicode properties \s and \d are exactly these bytes.
      Node node;
      node.kind = Node::Kind::kClass;
      node.text = c == 's' ? " \t\n\v\f\r" : "0123456789";
      return Add(std::move(node));
    }
    switch (c) {
      case 'D':
      case 'S':
      case 'w':
      case 'W':
      case 'h':
      case 'H':
      case 'v':
      case 'V':
      case 'R':
      case 'N':
      case 'X':
        return AddKind(Node::Kind::kAny);
      case 'b':
      case 'B':
      case 'A':
      case 'z':
      case 'Z':
      case 'G':
        return AddKind(Node::Kind::kEmpty);
      default:
        break;
    }
    if (c >= '1' && c <= '9') {
      ReadNumber();
      return AddKind(Node::Kind::kAny);  // a back reference
    }
    const int code = SimpleEscape(c);
    if (code < 0) throw ParseError{};
    return AddLiteral(static_cast<std::uint32_t>(code));
  }

  // A class; its characters are kept only when it is positive, plain and at most kMaxClass
  // long.
  std::size_t ParseClass() {
    const bool negated = Accept("^");
    bool wide = negated;
    std::set<std::uint32_t> chars;
    bool first = true;
    auto read_member = [&](std::uint32_t& code) -> bool {  // false: a set like \d
      const char c = Take();
      if (static_cast<unsigned char>(c) >= 0x80) throw ParseError{};
      if (c != '\\') {
        code = static_cast<unsigned char>(c);
        return true;
      }
      const char e = Take();
      if (std::string_view("dDsSwWhHvV").find(e) != std::string_view::npos) return false;
      if (e == 'b') {
        code = 0x08;
        return true;
      }
      const int simple = SimpleEscape(e);
      if (simple < 0) throw ParseError{};
      code = static_cast<std::uint32_t>(simple);
      return true;
    };
    while (true) {
      if (AtEnd()) throw ParseError{};
      if (Peek() == ']' && !first) {
        ++pos_;
        break;
      }
      first = false;
      if (Accept("[:")) {
        while (Take() != ':') {
        }
        if (!Accept("]")) throw ParseError{};
        wide = true;
        continue;
      }
      std::uint32_t low = 0;
      if (!read_member(low)) {
        wide = true;
        continue;
      }
      if (Peek() == '-' && pos_ + 1 < p_.size() && p_[pos_ + 1] != ']') {
        ++pos_;
        std::uint32_t high = 0;
        if (!read_member(high) || high < low) throw ParseError{};
        if (high - low >= kMaxClass) {
          wide = true;
          continue;
        }
        for (std::uint32_t code = low; code <= high; ++code) chars.insert(code);
      } else {
        chars.insert(low);
      }
    }
    Node node;
    node.kind = Node::Kind::kClass;
    // Only small plain ASCII classes are expanded; their members are one byte each.
    if (wide || chars.empty() || chars.size() > kMaxClass || *chars.rbegin() >= 0x80) {
      node.kind = Node::Kind::kAny;
    } else {
      for (const std::uint32_t code : chars) node.text.push_back(static_cast<char>(code));
    }
    return Add(std::move(node));
  }

  std::size_t ParseAtom() {
    const char c = Take();
    if (static_cast<unsigned char>(c) >= 0x80) throw ParseError{};
    switch (c) {
      case '(':
        return ParseGroup();
      case '[':
        return ParseClass();
      case '\\':
        return ParseEscape();
      case '.':
        return AddKind(Node::Kind::kAny);
      case '^':
        return AddKind(Node::Kind::kStart);
      case '$':
        return AddKind(Node::Kind::kEmpty);
      case '*':
      case '+':
      case '?':
      case '{':
      case ')':
      case '|':
        throw ParseError{};
      default:
        return AddLiteral(static_cast<unsigned char>(c));
    }
  }

  std::string_view p_;
  std::size_t pos_ = 0;
};

// Bytes kept of each string when a product is too large to hold whole, and of prefixes.
constexpr std::size_t kPrefixBytes = 6;

// What the analysis knows of a node: `exact`, all strings it can match (when few);
// `required`, strings one of which every match contains.
// `prefix`, strings one of which every non-empty match starts with ({""} says nothing);
// `nullable`, whether it may match the empty string; `ahead`, for a look-ahead, strings one
// of which the subject holds where it stands.
struct Info {
  std::optional<LiteralSet> exact;
  std::optional<LiteralSet> required;
  LiteralSet prefix{std::string()};
  LiteralSet ending{std::string()};  // like prefix, for the last bytes of a non-empty match
  bool nullable = true;
  std::optional<LiteralSet> ahead;
};

// What every literal of a set costs the scan, beside how often it occurs.
constexpr double kLiteralCost = 1e-6;

bool IsCommonByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("/.=&%+ _-?:,;#~").find(static_cast<char>(c)) != std::string_view::npos;
}

// Requests carry random hexadecimal text (tokens, hashes, cache busters, ids) in amounts no
// sample can be trusted to show: a short string of hex digits ("cd", "dd") is assumed to
// occur at least as often as it would in hex text making up a twentieth of a request.
double HexTokenRate(std::string_view text) {
  constexpr std::size_t kLongest = 4;
  constexpr double kHexShare = 0.05;
  if (text.size() > kLongest) return 0;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
  }
  return kHexShare * std::pow(1.0 / 16, static_cast<double>(text.size()));
}

// Expected hits of a set per subject position, roughly; lower is more selective. Sets with
// an empty string, or a one-byte string that is common in request lines, are useless as a
// gate; a rare single byte (a parenthesis, a quote) is allowed but expensive.
// With counted frequencies the count decides and the guess only breaks ties between
// strings the sample lacks.
std::optional<double> Cost(const LiteralSet& set, const LiteralFrequencies* frequencies) {
  if (set.empty() || set.size() > kMaxGateLiterals) return std::nullopt;
  double total = 0;
  for (const std::string& text : set) {
    if (text.empty()) return std::nullopt;
    if (text.size() == 1 && IsCommonByte(static_cast<unsigned char>(text[0]))) return std::nullopt;
    double p = text.size() == 1 ? 16.0 : text.size() == 2 ? 4.0 : 1.0;
    for (const char c : text) p *= IsCommonByte(static_cast<unsigned char>(c)) ? 0.08 : 0.02;
    if (frequencies != nullptr)
      p = std::max(frequencies->Rate(text), HexTokenRate(text)) + 0.003 * p;
    total += p + kLiteralCost;
  }
  return total;
}

// The more selective of two requirement sets; nullopt when neither is usable.
// Drops strings that contain another of the set: the shorter one is found wherever the
// longer one is.
void Reduce(LiteralSet& set) {
  for (auto it = set.begin(); it != set.end();) {
    bool covered = false;
    const std::string& text = *it;
    for (std::size_t from = 0; from < text.size() && !covered; ++from) {
      for (std::size_t length = 1; from + length <= text.size() && !covered; ++length) {
        if (length == text.size()) break;
        covered = set.count(text.substr(from, length)) != 0;
      }
    }
    it = covered ? set.erase(it) : std::next(it);
  }
}

std::optional<LiteralSet> Better(std::optional<LiteralSet> a, std::optional<LiteralSet> b,
                                 const LiteralFrequencies* frequencies) {
  const std::optional<double> cost_a = a ? Cost(*a, frequencies) : std::nullopt;
  const std::optional<double> cost_b = b ? Cost(*b, frequencies) : std::nullopt;
  if (!cost_a && !cost_b) return std::nullopt;
  if (!cost_b || (cost_a && *cost_a <= *cost_b)) return a;
  return b;
}

std::optional<LiteralSet> Product(const LiteralSet& a, const LiteralSet& b) {
  if (a.size() * b.size() > kMaxExact) return std::nullopt;
  LiteralSet out;
  for (const std::string& x : a) {
    for (const std::string& y : b) out.insert(x + y);
  }
  return out;
}

// Every string of a·b cut to its first kPrefixBytes: each occurs wherever a string of the
// product does, so the set is still required where the product is, though it may no longer
// be extended by a following factor. Nullopt when even that set is too large.
std::optional<LiteralSet> PrefixProduct(const LiteralSet& a, const LiteralSet& b) {
  LiteralSet out;
  for (const std::string& x : a) {
    if (x.size() >= kPrefixBytes) {
      out.insert(x.substr(0, kPrefixBytes));
      continue;
    }
    for (const std::string& y : b) {
      out.insert((x + y).substr(0, kPrefixBytes));
      if (out.size() > kMaxPrefixSet) return std::nullopt;
    }
  }
  return out;
}

// Every string of a·b cut to its last kPrefixBytes; nullopt when that set is too large.
std::optional<LiteralSet> EndProduct(const LiteralSet& a, const LiteralSet& b) {
  LiteralSet out;
  for (const std::string& y : b) {
    if (y.size() >= kPrefixBytes) {
      out.insert(y.substr(y.size() - kPrefixBytes));
      continue;
    }
    for (const std::string& x : a) {
      const std::string joined = x + y;
      out.insert(joined.size() > kPrefixBytes ? joined.substr(joined.size() - kPrefixBytes)
                                              : joined);
      if (out.size() > kMaxPrefixSet) return std::nullopt;
    }
  }
  return out;
}

class Analyser {
 public:
  Analyser(const Parser& parser, const LiteralFrequencies* frequencies)
      : parser_(parser), frequencies_(frequencies), done_(parser.nodes.size()) {}

  // The analysis of each node is kept (a called group's too): an alternation is looked at
  // again per alternative behind what precedes it, and a group is called from many places.
  // A result cut short by a recursion guard is weaker, never wrong, so it may be reused.
  Info Analyse(std::size_t index) {
    if (done_[index]) return *done_[index];
    Info info = AnalyseNode(index);
    done_[index] = info;
    return info;
  }

 private:
  Info AnalyseNode(std::size_t index) {
    const Node& node = parser_.nodes[index];
    Info info;
    switch (node.kind) {
      case Node::Kind::kLiteral:
        info.exact = LiteralSet{node.text};
        info.required = info.exact;
        break;
      case Node::Kind::kAny:
        break;  // may be a back reference to an empty group: nullable
      case Node::Kind::kEmpty:
      case Node::Kind::kStart:
        info.exact = LiteralSet{std::string()};
        break;
      case Node::Kind::kAhead: {
        const Info inner = Analyse(node.kids[0]);
        info.exact = LiteralSet{std::string()};
        if (!inner.nullable && !inner.prefix.count(std::string())) info.ahead = inner.prefix;
        break;
      }
      case Node::Kind::kClass: {
        LiteralSet set;
        for (const char c : node.text) set.insert(std::string(1, c));
        info.exact = set;
        info.required = set;
        break;
      }
      case Node::Kind::kConcat:
        info = Concat(node);
        break;
      case Node::Kind::kAlternate:
        info = Alternate(node);
        break;
      case Node::Kind::kRepeat:
        info = Repeat(node);
        break;
      case Node::Kind::kCall:
        info = Call(node.name);
        break;
    }
    if (info.exact) {
      LiteralSet whole = *info.exact;
      info.nullable = whole.erase(std::string()) != 0;
      std::optional<LiteralSet> cut = PrefixProduct(LiteralSet{std::string()}, whole);
      info.prefix = cut ? std::move(*cut) : LiteralSet{std::string()};
      std::optional<LiteralSet> end = EndProduct(LiteralSet{std::string()}, whole);
      info.ending = end ? std::move(*end) : LiteralSet{std::string()};
    }
    return info;
  }

  // For every i, strings one of which the subject holds where a non-empty match of kids[i..]
  // starts: exact kids are prepended whole, the first kid that is not exact gives its own
  // prefixes, a kid that may match empty adds those of the kids after it, and a look-ahead
  // may stand for what follows it.
  std::vector<LiteralSet> SuffixPrefixes(const std::vector<Info>& kids) const {
    std::vector<LiteralSet> out(kids.size() + 1);
    bool rest_nullable = true;  // kids[i + 1..] may match empty
    for (std::size_t i = kids.size(); i-- > 0;) {
      const Info& kid = kids[i];
      const LiteralSet& rest = out[i + 1];
      LiteralSet prefix = kid.prefix;
      if (kid.exact && !kid.prefix.count(std::string())) {
        LiteralSet whole = *kid.exact;
        whole.erase(std::string());
        LiteralSet tails = rest;
        if (rest_nullable) tails.insert(std::string());
        if (std::optional<LiteralSet> joined = PrefixProduct(whole, tails)) prefix = *joined;
      }
      if (kid.nullable) prefix.insert(rest.begin(), rest.end());
      if (prefix.size() > kMaxPrefixSet) prefix = LiteralSet{std::string()};
      if (kid.ahead) {
        if (std::optional<LiteralSet> chosen = Better(*kid.ahead, prefix)) prefix = *chosen;
      }
      out[i] = std::move(prefix);
      rest_nullable = rest_nullable && kid.nullable;
    }
    return out;
  }

  // For every i, strings one of which a non-empty match of kids[..i) ends with: the mirror
  // of SuffixPrefixes, without look-arounds.
  static std::vector<LiteralSet> PrefixEndings(const std::vector<Info>& kids) {
    std::vector<LiteralSet> out(kids.size() + 1);
    bool left_nullable = true;  // kids[..i) may match empty
    for (std::size_t i = 0; i < kids.size(); ++i) {
      const Info& kid = kids[i];
      const LiteralSet& left = out[i];
      LiteralSet ending = kid.ending;
      if (kid.exact && !kid.ending.count(std::string())) {
        LiteralSet whole = *kid.exact;
        whole.erase(std::string());
        LiteralSet heads = left;
        if (left_nullable) heads.insert(std::string());
        if (std::optional<LiteralSet> joined = EndProduct(heads, whole)) ending = *joined;
      }
      if (kid.nullable) ending.insert(left.begin(), left.end());
      if (ending.size() > kMaxPrefixSet) ending = LiteralSet{std::string()};
      out[i + 1] = std::move(ending);
      left_nullable = left_nullable && kid.nullable;
    }
    return out;
  }

  Info Concat(const Node& node) {
    std::vector<Info> kids;
    kids.reserve(node.kids.size());
    for (const std::size_t kid : node.kids) kids.push_back(Analyse(kid));
    Info info;
    LiteralSet all{std::string()};
    bool all_exact = true;
    for (std::size_t i = 0; i < kids.size(); ++i) {
      info.required = Better(std::move(info.required), kids[i].required);
      if (all_exact && kids[i].exact) {
        std::optional<LiteralSet> next = Product(all, *kids[i].exact);
        if (next) {
          all = std::move(*next);
        } else {
          all_exact = false;
        }
      } else {
        all_exact = false;
      }
      // Adjacent exact factors occur together: their product is required as well.
      LiteralSet run{std::string()};
      for (std::size_t j = i; j < kids.size() && j < i + kMaxRun && kids[j].exact; ++j) {
        std::optional<LiteralSet> next = Product(run, *kids[j].exact);
        if (!next) {
          // Too many to extend further: their prefixes are still required.
          if (j > i)
            info.required = Better(std::move(info.required), PrefixProduct(run, *kids[j].exact));
          break;
        }
        run = std::move(*next);
        if (j > i) info.required = Better(std::move(info.required), run);
      }
    }
    // Every match holds a match of each suffix of the kids; one that cannot be empty
    // starts with one of its prefixes.
    const std::vector<LiteralSet> suffixes = SuffixPrefixes(kids);
    bool suffix_nullable = true;
    for (std::size_t i = kids.size(); i-- > 0;) {
      suffix_nullable = suffix_nullable && kids[i].nullable;
      if (!suffix_nullable) info.required = Better(std::move(info.required), suffixes[i]);
    }
    // After a ^ (behind nothing but look-aheads) the first bytes stand at the start of the
    // subject: words that are common elsewhere (a method name in a path) are rare there.
    std::size_t start = 0;
    while (start < kids.size() && parser_.nodes[node.kids[start]].kind == Node::Kind::kAhead) {
      ++start;
    }
    if (start + 1 < kids.size() && parser_.nodes[node.kids[start]].kind == Node::Kind::kStart &&
        !suffixes[start + 1].empty() && !suffixes[start + 1].count(std::string())) {
      bool rest_nullable = true;
      for (std::size_t k = start + 1; k < kids.size(); ++k) {
        rest_nullable = rest_nullable && kids[k].nullable;
      }
      if (!rest_nullable) {
        LiteralSet anchored;
        for (const std::string& head : suffixes[start + 1]) {
          anchored.insert(kAnchoredLiteralMark + head);
        }
        info.required = Better(std::move(info.required), std::move(anchored));
      }
    }
    // Where the kids before a point cannot match empty, the last bytes of their match and
    // the first bytes of what follows occur together.
    const std::vector<LiteralSet> endings = PrefixEndings(kids);
    bool left_nullable = true;
    for (std::size_t j = 1; j <= kids.size(); ++j) {
      left_nullable = left_nullable && kids[j - 1].nullable;
      if (left_nullable || endings[j].count(std::string())) continue;
      // The last bytes alone, for when what follows adds too many strings to join.
      info.required = Better(std::move(info.required), endings[j]);
      bool right_nullable = true;
      for (std::size_t k = j; k < kids.size(); ++k)
        right_nullable = right_nullable && kids[k].nullable;
      LiteralSet heads = suffixes[j];
      if (right_nullable) heads.insert(std::string());
      info.required = Better(std::move(info.required), JoinedWhereCheaper(endings[j], heads));
      if (j < kids.size() && parser_.nodes[node.kids[j]].kind == Node::Kind::kAlternate) {
        info.required = Better(std::move(info.required),
                               JoinedPerAlternative(endings[j], parser_.nodes[node.kids[j]]));
      }
    }
    info.nullable = suffix_nullable;
    info.prefix = suffixes.empty() ? LiteralSet{std::string()} : suffixes[0];
    info.ending = endings.back();
    if (all_exact) info.exact = std::move(all);
    return info;
  }

  Info Alternate(const Node& node) {
    Info info;
    LiteralSet exact;
    LiteralSet required;
    bool exact_ok = true;
    bool required_ok = true;
    LiteralSet prefix;
    bool prefix_ok = true;
    LiteralSet ending;
    bool ending_ok = true;
    bool nullable = false;
    for (const std::size_t kid : node.kids) {
      const Info one = Analyse(kid);
      prefix.insert(one.prefix.begin(), one.prefix.end());
      prefix_ok = prefix_ok && prefix.size() <= kMaxPrefixSet;
      ending.insert(one.ending.begin(), one.ending.end());
      ending_ok = ending_ok && ending.size() <= kMaxPrefixSet;
      nullable = nullable || one.nullable;
      if (exact_ok && one.exact && exact.size() + one.exact->size() <= kMaxExact) {
        exact.insert(one.exact->begin(), one.exact->end());
      } else {
        exact_ok = false;
      }
      // An alternative without a requirement leaves the alternation without one.
      const std::optional<LiteralSet> need = Better(one.required, one.exact);
      if (required_ok && need && required.size() + need->size() <= kMaxGateLiterals) {
        required.insert(need->begin(), need->end());
      } else {
        required_ok = false;
      }
    }
    if (exact_ok) info.exact = std::move(exact);
    if (required_ok) info.required = std::move(required);
    if (prefix_ok) info.prefix = std::move(prefix);
    if (ending_ok) info.ending = std::move(ending);
    info.nullable = nullable;
    return info;
  }

  Info Repeat(const Node& node) {
    const Info inner = Analyse(node.kids[0]);
    Info info;
    // A non-empty match starts with a non-empty copy.
    info.prefix = inner.prefix;
    info.ending = inner.ending;
    info.nullable = node.min == 0 || inner.nullable;
    if (node.min >= 1) info.required = Better(inner.required, inner.exact);
    if (node.min >= 2 && inner.exact) {
      // Every match starts with min adjacent copies of the inner node.
      std::optional<LiteralSet> head = inner.exact;
      for (int count = 1; count < node.min && head; ++count) {
        std::optional<LiteralSet> next = Product(*head, *inner.exact);
        if (!next) {
          // Too many to extend further: their prefixes are still required.
          info.required = Better(std::move(info.required), PrefixProduct(*head, *inner.exact));
        }
        head = std::move(next);
      }
      info.required = Better(std::move(info.required), std::move(head));
    }
    if (inner.exact && node.max >= 0 && node.max <= 8) {
      LiteralSet power{std::string()};
      LiteralSet exact;
      bool ok = true;
      for (int count = 0; count <= node.max && ok; ++count) {
        if (count >= node.min) {
          exact.insert(power.begin(), power.end());
          ok = exact.size() <= kMaxExact;
        }
        if (count < node.max && ok) {
          std::optional<LiteralSet> next = Product(power, *inner.exact);
          if (next) {
            power = std::move(*next);
          } else {
            ok = false;
          }
        }
      }
      if (ok) info.exact = std::move(exact);
    }
    return info;
  }

  Info Call(const std::string& name) {
    const auto group = parser_.groups.find(name);
    // A recursive call, or a name the parser did not see: no requirement.
    if (group == parser_.groups.end() || active_.count(name) != 0) return Info{};
    active_.insert(name);
    Info info = Analyse(group->second);
    active_.erase(name);
    return info;
  }

  // Strings one of which every subject holds where a match ending in one of `ends` is
  // followed by one starting with one of `heads`: per head, the head alone or joined to
  // every ending, whichever costs less. Too many to join whole, the common heads may still
  // be joined while the rare ones stand alone.
  std::optional<LiteralSet> JoinedWhereCheaper(const LiteralSet& ends,
                                               const LiteralSet& heads) const {
    LiteralSet out;
    // Each literal costs at least kLiteralCost: a head alone that costs no more than that
    // many is kept without pricing the join.
    const double least_joined = static_cast<double>(ends.size()) * kLiteralCost;
    for (const std::string& head : heads) {
      const std::optional<double> alone_cost =
          head.empty() ? std::nullopt : Cost(LiteralSet{head}, frequencies_);
      bool alone = alone_cost && *alone_cost <= least_joined;
      LiteralSet joined;
      if (!alone) {
        for (const std::string& end : ends) joined.insert(end + head);
        const std::optional<double> joined_cost = Cost(joined, frequencies_);
        if (!joined_cost && !alone_cost) return std::nullopt;
        alone = alone_cost && (!joined_cost || *alone_cost <= *joined_cost);
      }
      if (alone) {
        out.insert(head);
      } else {
        out.insert(joined.begin(), joined.end());
      }
      if (out.size() > kMaxGateLiterals) return std::nullopt;
    }
    return out;
  }

  // Strings one of which every subject holds where a match ending in one of `ends` is
  // followed by a match of `alternation`: for each alternative on its own, its requirement
  // or its first bytes joined to the endings, whichever costs less. Joined as a whole, the
  // first bytes of a large alternation are too many, and a short alternative factored
  // behind a common first byte (the "x" of "/x.php" beside "/web.config") would otherwise
  // stand without it.
  std::optional<LiteralSet> JoinedPerAlternative(const LiteralSet& ends, const Node& alternation) {
    LiteralSet out;
    for (const std::size_t kid : alternation.kids) {
      const Info one = Analyse(kid);
      std::optional<LiteralSet> choice = Better(one.required, one.exact);
      if (!one.nullable && !one.prefix.empty() && !one.prefix.count(std::string())) {
        choice = Better(std::move(choice), JoinedWhereCheaper(ends, one.prefix));
      }
      if (!choice || out.size() + choice->size() > kMaxGateLiterals) return std::nullopt;
      out.insert(choice->begin(), choice->end());
    }
    return out;
  }

  std::optional<LiteralSet> Better(std::optional<LiteralSet> a, std::optional<LiteralSet> b) const {
    return ostrel::Better(std::move(a), std::move(b), frequencies_);
  }

  const Parser& parser_;
  const LiteralFrequencies* frequencies_;
  std::set<std::string> active_;
  std::vector<std::optional<Info>> done_;
};

}  // namespace

LiteralFrequencies::LiteralFrequencies(std::span<const std::string> sample)
    : ones_(256), twos_(65536) {
  std::vector<std::uint32_t> threes;
  std::vector<std::uint32_t> fours;
  std::size_t bytes = 0;
  for (const std::string& text : sample) {
    bytes += text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto at = [&](std::size_t k) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(text[k]));
      };
      ++ones_[at(i)];
      if (i + 1 < text.size()) ++twos_[at(i) << 8 | at(i + 1)];
      if (i + 2 < text.size()) threes.push_back(at(i) << 16 | at(i + 1) << 8 | at(i + 2));
      if (i + 3 < text.size()) {
        fours.push_back(at(i) << 24 | at(i + 1) << 16 | at(i + 2) << 8 | at(i + 3));
      }
    }
  }
  threes_ = Tally(std::move(threes));
  fours_ = Tally(std::move(fours));
  bytes_ = std::max<double>(1, static_cast<double>(bytes));
}

LiteralFrequencies::Counts LiteralFrequencies::Tally(std::vector<std::uint32_t> keys) {
  std::sort(keys.begin(), keys.end());
  Counts counts;
  for (std::size_t i = 0; i < keys.size();) {
    std::size_t j = i;
    while (j < keys.size() && keys[j] == keys[i]) ++j;
    counts.emplace_back(keys[i], static_cast<std::uint32_t>(j - i));
    i = j;
  }
  return counts;
}

double LiteralFrequencies::CountOf(const Counts& counts, std::uint32_t key) {
  const auto found = std::lower_bound(counts.begin(), counts.end(), key,
                                      [](const std::pair<std::uint32_t, std::uint32_t>& entry,
                                         std::uint32_t k) { return entry.first < k; });
  return found != counts.end() && found->first == key ? found->second : 0;
}

double LiteralFrequencies::Rate(std::string_view text) const {
  const auto at = [&](std::size_t k) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[k]));
  };
  double count = 0;
  if (text.size() == 1) {
    count = ones_[at(0)];
  } else if (text.size() == 2) {
    count = twos_[at(0) << 8 | at(1)];
  } else if (text.size() == 3) {
    count = CountOf(threes_, at(0) << 16 | at(1) << 8 | at(2));
  } else if (text.size() >= 4) {
    // Each four-byte piece occurs at least as often as the whole text.
    count = static_cast<double>(UINT32_MAX);
    for (std::size_t i = 0; i + 3 < text.size(); ++i) {
      count = std::min(count,
                       CountOf(fours_, at(i) << 24 | at(i + 1) << 16 | at(i + 2) << 8 | at(i + 3)));
    }
  }
  return count / bytes_;
}

std::optional<std::vector<std::string>> RequiredLiterals(std::string_view pattern,
                                                         const LiteralFrequencies* frequencies) {
  try {
    Parser parser(pattern);
    const std::size_t root = parser.ParseAll();
    Analyser analyser(parser, frequencies);
    const Info info = analyser.Analyse(root);
    std::optional<LiteralSet> need = Better(info.required, info.exact, frequencies);
    if (!need) return std::nullopt;
    Reduce(*need);
    return std::vector<std::string>(need->begin(), need->end());
  } catch (const ParseError&) {
    return std::nullopt;
  }
}

namespace {

struct DatabaseFree {
  void operator()(hs_database_t* database) const { hs_free_database(database); }
};
struct ScratchFree {
  void operator()(hs_scratch_t* scratch) const { hs_free_scratch(scratch); }
};

// A literal's id is its slot; one that must stand at the start of the subject also carries
// its length, to compare with where its first match ends.
constexpr unsigned kAnchoredBit = 1U << 31;
constexpr std::size_t kMaxAnchoredLength = (std::size_t{1} << 26) - 1;

unsigned AnchoredId(std::size_t slot, std::size_t length) {
  return kAnchoredBit | static_cast<unsigned>(length) << 5 | static_cast<unsigned>(slot);
}
}  // namespace

struct LiteralGate::Handles {
  std::unique_ptr<hs_database_t, DatabaseFree> database;
};

struct LiteralGate::Scratch::Space {
  std::unique_ptr<hs_scratch_t, ScratchFree> scratch;
};

LiteralGate::Scratch::Scratch(std::unique_ptr<Space> space) : space_(std::move(space)) {}
LiteralGate::Scratch::Scratch(Scratch&&) noexcept = default;
LiteralGate::Scratch& LiteralGate::Scratch::operator=(Scratch&&) noexcept = default;
LiteralGate::Scratch::~Scratch() = default;

LiteralGate::LiteralGate(LoadKey) : handles_(std::make_unique<Handles>()) {}

LiteralGate::LiteralGate(const std::vector<std::optional<std::vector<std::string>>>& slot_literals,
                         GateTarget target)
    : handles_(std::make_unique<Handles>()) {
  std::vector<const char*> texts;
  std::vector<std::size_t> lengths;
  std::vector<unsigned> ids;
  for (std::size_t slot = 0; slot < 32; ++slot) {
    const std::uint32_t bit = std::uint32_t{1} << slot;
    if (slot >= slot_literals.size()) {
      always_ |= bit;
      continue;
    }
    if (!slot_literals[slot] || slot_literals[slot]->empty()) {
      always_ |= bit;
      continue;
    }
    gated_ |= bit;
    for (const std::string& text : *slot_literals[slot]) {
      const bool anchored = !text.empty() && text.front() == kAnchoredLiteralMark;
      const std::string_view literal = anchored ? std::string_view(text).substr(1) : text;
      if (anchored && (literal.empty() || literal.size() > kMaxAnchoredLength)) {
        throw std::runtime_error("literal gate: an anchored literal of " +
                                 std::to_string(literal.size()) + " bytes");
      }
      texts.push_back(literal.data());
      lengths.push_back(literal.size());
      ids.push_back(anchored ? AnchoredId(slot, literal.size()) : static_cast<unsigned>(slot));
    }
  }
  if (texts.empty()) return;
  const std::vector<unsigned> flags(texts.size(), HS_FLAG_SINGLEMATCH);
  // The baseline platform: tuned for no CPU in particular, no optional instruction sets.
  hs_platform_info_t baseline{};
  baseline.tune = HS_TUNE_FAMILY_GENERIC;
  baseline.cpu_features = 0;
  const hs_platform_info_t* platform = target == GateTarget::kAnyMachine ? &baseline : nullptr;
  hs_database_t* database = nullptr;
  hs_compile_error_t* error = nullptr;
  if (hs_compile_lit_multi(texts.data(), flags.data(), ids.data(), lengths.data(),
                           static_cast<unsigned>(texts.size()), HS_MODE_BLOCK, platform, &database,
                           &error) != HS_SUCCESS) {
    const std::string message = error != nullptr ? error->message : "unknown error";
    hs_free_compile_error(error);
    throw std::runtime_error("literal gate: " + message);
  }
  handles_->database.reset(database);
}

LiteralGate::~LiteralGate() = default;

std::unique_ptr<LiteralGate> LiteralGate::Load(std::span<const unsigned char> serialized,
                                               std::uint32_t always_slots,
                                               std::uint32_t gated_slots) {
  auto gate = std::make_unique<LiteralGate>(LoadKey{});
  gate->always_ = always_slots;
  gate->gated_ = gated_slots & ~always_slots;
  if (gate->gated_ == 0) return gate;
  hs_database_t* database = nullptr;
  if (hs_deserialize_database(reinterpret_cast<const char*>(serialized.data()), serialized.size(),
                              &database) != HS_SUCCESS) {
    return nullptr;
  }
  gate->handles_->database.reset(database);
  // A database built for instructions this CPU lacks is refused at its first scratch.
  hs_scratch_t* probe = nullptr;
  if (hs_alloc_scratch(database, &probe) != HS_SUCCESS) return nullptr;
  hs_free_scratch(probe);
  return gate;
}

std::string LiteralGate::Serialized() const {
  if (!handles_->database) return {};
  char* bytes = nullptr;
  std::size_t length = 0;
  if (hs_serialize_database(handles_->database.get(), &bytes, &length) != HS_SUCCESS) {
    throw std::runtime_error("literal gate: the database cannot be serialized");
  }
  std::string out(bytes, length);
  std::free(bytes);
  return out;
}

LiteralGate::Scratch LiteralGate::MakeScratch() const {
  auto space = std::make_unique<Scratch::Space>();
  if (handles_->database) {
    hs_scratch_t* scratch = nullptr;
    if (hs_alloc_scratch(handles_->database.get(), &scratch) != HS_SUCCESS) {
      throw std::runtime_error("literal gate: no scratch space");
    }
    space->scratch.reset(scratch);
  }
  return Scratch(std::move(space));
}

namespace {
struct ScanState {
  std::uint32_t found;
  std::uint32_t gated;
};

int OnLiteral(unsigned int id, unsigned long long /*from*/, unsigned long long to,
              unsigned int /*flags*/, void* context) {
  auto* state = static_cast<ScanState*>(context);
  // Each literal is reported once, where it first ends: at its length when it starts the
  // subject.
  if ((id & kAnchoredBit) != 0 && to != ((id & ~kAnchoredBit) >> 5)) return 0;
  state->found |= std::uint32_t{1} << (id & 31U);
  return state->found == state->gated ? 1 : 0;  // every gated slot seen: stop early
}
}  // namespace

std::uint32_t LiteralGate::Candidates(std::string_view subject, Scratch& scratch) const noexcept {
  if (!handles_->database || !scratch.space_->scratch) return always_ | gated_;
  if (subject.size() > UINT_MAX) return always_ | gated_;
  ScanState state{0, gated_};
  const char* data = subject.data() != nullptr ? subject.data() : "";
  const hs_error_t rc =
      hs_scan(handles_->database.get(), data, static_cast<unsigned>(subject.size()), 0,
              scratch.space_->scratch.get(), OnLiteral, &state);
  // Any failure of the scan leaves every slot a candidate.
  if (rc != HS_SUCCESS && rc != HS_SCAN_TERMINATED) return always_ | gated_;
  return always_ | state.found;
}

}  // namespace ostrel
