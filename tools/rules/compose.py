#!/usr/bin/env python3
"""Writes the eight rule slot patterns, tools/rules/slot1.pcre .. slot8.pcre.

Usage: tools/rules/compose.py [OUTPUT_FOLDER]   (default: the folder of this script)

The patterns are too long to maintain by hand, so they are composed here from named
building blocks (an encoded quote, a blank, a slash, ...). Edit this file, run it, review
the change with `git diff tools/rules`, then run encipher.sh and the corpus test
(see README.md). Needs Python 3 and libpcre2-8 (through ctypes).

How the output is shaped, and why:
- Blocks used many times are named groups in a (?(DEFINE)...) block at the end of each
  pattern, called with (?&name); inlining them would pass PCRE2's compiled-size limit.
- Every alternation is factored by common literal prefixes (a trie), so matching tries
  one branch per character instead of every word of a list.
- Each top-level alternative gets a look-ahead on the characters it can start with
  (computed by PCRE2 itself), and alternatives with the same first characters share one.
  PCRE2 cannot see through a subroutine call, so without it every alternative would be
  tried at every position of the subject.
- Repeated blanks and separators are possessive, so a long run of them costs linear time;
  unbounded between keywords, bounded ({0,8}+) after ^ or a blank-like token. A block that
  follows them must not start with what they eat.
- An alternative that can start with '%' is guarded by what can follow the '%' (two or
  three characters, found by partial matching), so runs of escapes skip it at once.
"""
import ctypes
import ctypes.util
import itertools
import os
import re
import sys


# ---------------------------------------------------------------- trie factoring

def _skip_class(s, i):
    j = i + 1
    if j < len(s) and s[j] == '^':
        j += 1
    if j < len(s) and s[j] == ']':
        j += 1
    while s[j] != ']':
        j += 2 if s[j] == '\\' else 1
    return j + 1


def _parse_group(s, i):
    """Splits the group whose body starts at s[i] into alternatives; gives them and the
    index after the closing parenthesis. Non-capturing groups inside are factored too."""
    alts, cur = [], []
    while i < len(s):
        c = s[i]
        if c == '\\':
            cur.append(s[i:i + 2])
            i += 2
        elif c == '[':
            j = _skip_class(s, i)
            cur.append(s[i:j])
            i = j
        elif c == '(':
            if s.startswith('(?:', i):
                sub, i = _parse_group(s, i + 3)
                cur.append(_emit(sub))
            else:
                head = re.match(r'\((?:\?<?[=!]|\?<\w+>|\?&\w+\)|\?\(DEFINE\))?', s[i:]).group(0)
                if head.startswith('(?&'):
                    cur.append(head)
                    i += len(head)
                    continue
                inner, i = _parse_group(s, i + len(head))
                cur.append(head + '|'.join(inner) + ')')
        elif c == ')':
            alts.append(''.join(cur))
            return alts, i + 1
        elif c == '|':
            alts.append(''.join(cur))
            cur = []
            i += 1
        else:
            cur.append(c)
            i += 1
    alts.append(''.join(cur))
    return alts, i


# A literal token that no quantifier applies to.
_LITERAL = re.compile(r'(?:[a-z0-9_@:;,=~!%\'"<>/&-]|\\[.$/*+?()\[\]{}|\\])(?![?*+{])')


def _split(alternative):
    tokens, i = [], 0
    while True:
        m = _LITERAL.match(alternative, i)
        if not m:
            return tokens, alternative[i:]
        tokens.append(m.group(0))
        i = m.end()


def _has_top_level_bar(s):
    depth, i = 0, 0
    while i < len(s):
        c = s[i]
        if c == '\\':
            i += 2
            continue
        if c == '[':
            i = _skip_class(s, i)
            continue
        if c == '(':
            depth += 1
        elif c == ')':
            depth -= 1
        elif c == '|' and depth == 0:
            return True
        i += 1
    return False


def _build(items):
    groups, order, rest = {}, [], []
    for tokens, tail in items:
        if not tokens:
            rest.append(tail)
            continue
        if tokens[0] not in groups:
            groups[tokens[0]] = []
            order.append(tokens[0])
        groups[tokens[0]].append((tokens[1:], tail))
    parts = []
    for key in order:
        group = groups[key]
        if len(group) == 1:
            parts.append(key + ''.join(group[0][0]) + group[0][1])
        else:
            inner = _build(group)
            parts.append(key + ('(?:' + inner + ')' if _has_top_level_bar(inner) else inner))
    return '|'.join(parts + rest)


def _emit(alts):
    if len(alts) < 2:
        return '(?:' + '|'.join(alts) + ')'
    return '(?:' + _build([_split(a) for a in alts]) + ')'


def optimise(pattern):
    """The same pattern with the literal prefixes of its alternations factored."""
    alts, end = _parse_group(pattern, 0)
    assert end >= len(pattern), (end, len(pattern))
    return '|'.join(alts)


# ---------------------------------------------------------------- first characters

class _Pcre2:
    """The first characters a pattern can match, asked from PCRE2 itself."""
    UTF = 0x00080000
    INFO_FIRSTCODEUNIT, INFO_FIRSTCODETYPE, INFO_FIRSTBITMAP = 5, 6, 7

    def __init__(self):
        name = ctypes.util.find_library('pcre2-8') or 'libpcre2-8.so.0'
        self.lib = ctypes.CDLL(name)
        self.lib.pcre2_compile_8.restype = ctypes.c_void_p
        self.lib.pcre2_compile_8.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint32,
                                             ctypes.POINTER(ctypes.c_int),
                                             ctypes.POINTER(ctypes.c_size_t), ctypes.c_void_p]
        self.lib.pcre2_pattern_info_8.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_void_p]
        self.lib.pcre2_code_free_8.argtypes = [ctypes.c_void_p]

    ANCHORED, PARTIAL_SOFT, ERROR_PARTIAL = 0x80000000, 0x00000010, -2

    def percent_followers(self, pattern):
        """What can follow a leading '%' in a match of pattern: a regex for the characters
        after it (two levels deep for hex digits and 'u'), or None when anything can. Asked
        from PCRE2 by partial matching behind several contexts, so it is exact."""
        self.lib.pcre2_match_data_create_from_pattern_8.restype = ctypes.c_void_p
        self.lib.pcre2_match_data_create_from_pattern_8.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.lib.pcre2_match_8.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_size_t,
                                           ctypes.c_uint32, ctypes.c_void_p, ctypes.c_void_p]
        self.lib.pcre2_match_data_free_8.argtypes = [ctypes.c_void_p]
        data = pattern.encode()
        error, offset = ctypes.c_int(), ctypes.c_size_t()
        code = self.lib.pcre2_compile_8(data, len(data), self.UTF, ctypes.byref(error), ctypes.byref(offset), None)
        match = self.lib.pcre2_match_data_create_from_pattern_8(code, None)
        chars = [chr(c) for c in range(0x20, 0x7f)] + ['\u00e9']

        def possible(text):
            # Behind nothing, an escape, a letter and a digit: the look-behinds of the blocks (word
            # boundaries that see through %xx) then answer every way they can.
            for before in ('', '%2f', 'a', '1'):
                subject = (before + text).encode()
                rc = self.lib.pcre2_match_8(code, subject, len(subject), len(before),
                                            self.ANCHORED | self.PARTIAL_SOFT, match, None)
                if rc >= 0 or rc == self.ERROR_PARTIAL:
                    return True
            return False

        try:
            seconds = [c for c in chars if possible('%' + c)]
            if len(seconds) > 40:
                return None
            parts = []
            for c in seconds:
                if c in '0123456789abcdefu':
                    thirds = [d for d in chars if possible('%' + c + d)]
                    if len(thirds) > 40:
                        parts.append(re.escape(c))
                    elif thirds:
                        parts.append(re.escape(c) + '[' + ''.join(_class_char(ord(d)) if ord(d) < 0x80 else '\\x{80}-\\x{10ffff}' for d in thirds) + ']')
                else:
                    parts.append(_class_char(ord(c)) if ord(c) < 0x80 else '[\\x{80}-\\x{10ffff}]')
            return '(?:' + '|'.join(parts) + ')' if parts else '(?!)'
        finally:
            self.lib.pcre2_match_data_free_8(match)
            self.lib.pcre2_code_free_8(code)

    def first_class(self, pattern):
        """A character class of the bytes a match can start with, or None when PCRE2
        cannot tell or nearly any byte can start one."""
        data = pattern.encode()
        error, offset = ctypes.c_int(), ctypes.c_size_t()
        code = self.lib.pcre2_compile_8(data, len(data), self.UTF, ctypes.byref(error),
                                        ctypes.byref(offset), None)
        if not code:
            raise ValueError('pattern does not compile at offset %d: %s' % (offset.value, pattern[:80]))
        try:
            kind = ctypes.c_uint32()
            self.lib.pcre2_pattern_info_8(code, self.INFO_FIRSTCODETYPE, ctypes.byref(kind))
            if kind.value == 1:
                unit = ctypes.c_uint32()
                self.lib.pcre2_pattern_info_8(code, self.INFO_FIRSTCODEUNIT, ctypes.byref(unit))
                return '[' + _class_char(unit.value) + ('\\x{80}-\\x{10ffff}' if unit.value >= 0x80 else '') + ']'
            bitmap = ctypes.c_void_p()
            self.lib.pcre2_pattern_info_8(code, self.INFO_FIRSTBITMAP, ctypes.byref(bitmap))
            if not bitmap.value:
                return None
            bits = ctypes.string_at(bitmap.value, 32)
            chars = [c for c in range(256) if bits[c // 8] & (1 << (c % 8))]
            if len(chars) >= 100:
                return None
            text = ''.join(_class_char(c) for c in chars if c < 0x80)
            if any(c >= 0x80 for c in chars):
                text += '\\x{80}-\\x{10ffff}'
            return '[' + text + ']'
        finally:
            self.lib.pcre2_code_free_8(code)


def _class_char(c):
    return chr(c) if chr(c).isalnum() and c < 0x80 else '\\x%02x' % c


# ---------------------------------------------------------------- building blocks

FRAGMENTS = {}  # name -> body of the named groups that patterns call with (?&name)
CALLED = {'s', 'ss', 'sl', 'dot', 'aq', 'q', 'dq', 'lp', 'rp', 'eq', 'lt', 'gt'}
# First characters of the called blocks, for alternatives that start with a call.
GUARD = {'s': r'(?=[\s+%/])', 'ss': r'(?=[\s+%/()*-])', 'sl': r'(?=[/\\%])', 'dot': r'(?=[.%\\])',
         'aq': r'(?=[\'"%\\&])', 'q': r'(?=[\'%\\])', 'dq': r'(?=["%\\&])', 'lp': r'(?=[(%])',
         'rp': r'(?=[)%])', 'eq': r'(?=[=%])', 'lt': r'(?=[<%&\\+])', 'gt': r'(?=[>%&\\+])'}


def D(name, body, called=False):
    """A building block: called by name when it is used often (or `called`: a block that a
    bounded repeat or several rules would otherwise copy), inlined otherwise."""
    FRAGMENTS[name] = body
    if called:
        CALLED.add(name)
    return '(?&' + name + ')' if name in CALLED else '(?:' + body + ')'


def E(h):
    """One percent-encoded byte, also double or triple encoded (%27, %2527, %252527)."""
    return r'%(?:25){0,2}' + h


def U(forms):
    """Percent forms that may also arrive double encoded."""
    return forms.replace('%', '%(?:25)?')


def b64_fragments(word, shortest=8):
    """The lower-cased base64 texts of word at each of the three alignments, without the
    characters that depend on its neighbours (the subjects are lower-cased, so only the
    lower-cased form can be matched)."""
    import base64
    out = []
    for pad in range(3):
        text = base64.b64encode(b'a' * pad + word.encode()).decode().rstrip('=')
        start = (pad * 8 + 5) // 6 + (1 if pad else 0)
        end = len(text) - (1 if (pad + len(word)) % 3 else 0)
        fragment = text[start:end].lower()
        if len(fragment) >= shortest:
            out.append(fragment)
    return out


def alt(*xs):
    return '(?:' + '|'.join(xs) + ')'


Q = D('q', r"(?:'|" + E('27') + r"|" + U(r"%u0027|%c0%a7|%ef%bc%87|%e2%80%b2|%ca%b9|%ca%bc|%u2032|%u02b9|%u02bc") + r"|%26%23(?:0{0,4}39|x0{0,4}27)(?:;|%3b)?|\\x27)")
DQ = D('dq', r'(?:"|' + E('22') + r'|' + U(r'%u0022') + r'|\\x22|&quot;|%26quot(?:;|%3b)|%26%23(?:0{0,4}34|x0{0,4}22)(?:;|%3b)?)')
EQ = D('eq', r'(?:=|' + E('3d') + r'|%u003d)')
LP = D('lp', r'(?:\(|' + E('28') + r'|%u0028)')
RP = D('rp', r'(?:\)|' + E('29') + r'|%u0029)')
LT = D('lt', r'(?:<|' + E('3c') + r'|' + U(r'%u003c|%u02c2|%uff1c|%ef%bc%9c|%c0%bc|%e0%80%bc') + r'|\\x3c|\\u003c|&lt;|%26lt(?:;|%3b)|%26%23(?:0{0,4}60|x0{0,4}3c)(?:;|%3b)?|\+adw-|%2badw-|%252badw-)')
GT = D('gt', r'(?:>|' + E('3e') + r'|' + U(r'%u003e|%uff1e|%ef%bc%9e|%c0%be') + r'|\\x3e|\\u003e|&gt;|%26gt(?:;|%3b)|%26%23(?:0{0,4}62|x0{0,4}3e)(?:;|%3b)?|\+ad4-|%2bad4-|%252bad4-)')
SL = D('sl', r'(?:/|\\|' + E('2f') + '|' + E('5c') + r'|' + U(r'%u2215|%u2216|%u002f|%u005c|%c0%af|%c0%2f|%c0%5c|%c1%9c|%c1%1c|%c1%af|%e0%80%af|%uff0f|%ef%bc%8f|%c0%qf|%c1%pc|%c0%9v|%c1%8s|%uf025') + r'|\\x2f|\\x5c|0x2f|0x5c)')
DOT = D('dot', r'(?:\.|' + E('2e') + r'|' + U(r'%u002e|%u2024|%uff0e|%c0%ae|%c0%2e|%e0%80%ae|%f0%80%80%ae|%c1%8e|%c0%5e') + r'|\\x2e|0x2e)')
SP1 = D('s', r'(?:\s|\+|' + E('(?:20|09|0a|0b|0c|0d|a0|2b)') + r'|%u0020|%c2%a0|(?:/|%2f)(?:\*|%2a)(?!!|%21).{0,40}?(?:\*|%2a)(?:/|%2f)|(?:\$|%24)(?:\{|%7b)?ifs(?:\}|%7d)?)')
# Blank runs are possessive and unbounded, so any number of blanks may stand between
# keywords and a long run costs linear time.
SPS = SP1 + '*+'
SPP = SP1 + '++'
# At the front of the subject and after a token that can itself be part of a blank (a
# line break, a digit of %20, the slash of /**/) a run is tried from every position of a
# long run of blanks, and one attempt over a megabyte of blanks would pass PCRE2's match
# limit: there the run stays short.
SPSB = SP1 + '{0,8}+'
COLON = D('co', r'(?::|' + E('3a') + r'|%u003a|&colon;|%26colon(?:;|%3b))')
SEMI = D('sc', r'(?:;|' + E('3b') + r'|%u003b)')
PIPE = D('pi', r'(?:\||' + E('7c') + r'|%u007c)')
AMP = D('am', r'(?:&|' + E('26') + r'|%u0026)')
BT = D('bt', r'(?:`|' + E('60') + ')')
DOL = D('do', r'(?:\$|' + E('24') + r'|%u0024)')
LB = D('lb', r'(?:\{|' + E('7b') + r'|%u007b)')
RB = D('rb', r'(?:\}|' + E('7d') + r'|%u007d)')
NL = D('nl', r'(?:' + E('(?:0a|0d)') + r'|\n|\r)')
COMMA = D('cm', r'(?:,|' + E('2c') + ')')
STAR = D('st', r'(?:\*|' + E('2a') + ')')
HASH = D('ha', E('23'))
AT = D('at', r'(?:@|' + E('40') + ')')
BANG = D('bg', r'(?:!|' + E('21') + ')')
QM = D('qm', r'(?:\?|' + E('3f') + ')')
PCT = D('pc', r'(?:%|%25)')
# letter boundaries that see through percent-encoding (%20or: "0" is no letter)
WB = r'(?:(?<![a-z_])|(?<=%[0-9a-f]{2}))'
WE = r'(?![a-z_])'
NUM = r'(?<!%)(?<!%[0-9a-f])(?<!%25)(?<!%25[0-9a-f])\d'
ANYQ = D('aq', '(?:' + Q + '|' + DQ + ')')
SQLSEP = D('ss', '(?:' + SP1 + '|' + RP + r'|(?:/|%2f)(?:\*|%2a)(?:!|%21)\d{0,6}|(?:\*|%2a)(?:/|%2f)|' + HASH + r'[^&\s]{0,30}?' + NL + r'|--[^&\s]{0,30}?' + NL + ')')
SQS = SQLSEP + '*+'
SQP = SQLSEP + '++'
SQPL = '(?:' + SQLSEP + '|' + LP + ')++'
SQSL = '(?:' + SQLSEP + '|' + LP + ')*+'


_PCRE2 = _Pcre2()


def _called_blocks(pattern):
    used, todo = set(), set(re.findall(r'\(\?&(\w+)\)', pattern))
    while todo:
        name = todo.pop()
        if name not in used:
            used.add(name)
            todo |= set(re.findall(r'\(\?&(\w+)\)', FRAGMENTS[name]))
    return [name for name in FRAGMENTS if name in used]


def with_defines(pattern):
    """The pattern followed by the DEFINE block of the building blocks it calls."""
    names = _called_blocks(pattern)
    if not names:
        return pattern
    return pattern + '(?(DEFINE)' + ''.join('(?<%s>%s)' % (n, optimise(FRAGMENTS[n])) for n in names) + ')'


def under(prefix, *alternatives):
    """The alternatives that begin with `prefix` joined behind one copy of it, so a match
    walks the prefix once for all of them instead of once each; the others as they are."""
    def behind(a):  # not when a quantifier follows the prefix: it repeats the prefix
        return a.startswith(prefix) and not a[len(prefix):len(prefix) + 1] in ('{', '*', '+', '?')
    rests = [a[len(prefix):] for a in alternatives if behind(a)]
    others = [a for a in alternatives if not behind(a)]
    return ([prefix + alt(*rests)] if rests else []) + others


def joined(prefixes, *alternatives):
    """under() for each prefix in turn, the last one first: the alternatives that start
    with any of them walk it once."""
    for prefix in reversed(prefixes):
        alternatives = under(prefix, *alternatives)
    return list(alternatives)


def inlined(pattern):
    """The pattern with every call of a building block replaced by the block itself, for
    asking PCRE2 what a match starts with (it cannot see through a call)."""
    for _ in range(8):
        expanded = re.sub(r'\(\?&(\w+)\)', lambda m: '(?:' + FRAGMENTS[m.group(1)] + ')', pattern)
        if expanded == pattern:
            return pattern
        pattern = expanded
    return pattern


def top(*alternatives, outer=False):
    """One slot: its alternatives factored, each group of them behind a look-ahead on the
    characters its matches start with; with `outer`, the groups that start with no letter
    also behind one look-ahead on all their first characters."""
    groups, order = {}, []
    for alternative in alternatives:
        alternative = optimise(alternative)
        first = _PCRE2.first_class(with_defines(alternative))
        call = re.match(r'\(\?&(\w+)\)', alternative)
        if first is None and not call:
            first = _PCRE2.first_class(inlined(alternative))
        if first is None and call:
            guard = GUARD[call.group(1)]
        elif first is not None:
            guard = '(?=' + first + ')'
            defined = with_defines(alternative)
            if '\\x25' in first:
                followers = _PCRE2.percent_followers(defined)
                if followers is not None:
                    rest = first.replace('\\x25', '')
                    guard = '(?=' + ('' if rest == '[]' else rest + '|') + '%' + followers + ')'
        else:
            guard = ''
        if guard not in groups:
            groups[guard] = []
            order.append(guard)
        groups[guard].append(alternative)
    out, symbols, symbol_chars = [], [], set()
    for guard in order:
        members = groups[guard]
        if not guard:
            out.extend(members)
        elif len(members) == 1 and re.match(r'[a-z0-9]', members[0]):
            out.append(members[0])  # a literal first character is its own guard
        else:
            group = guard + (alt(*members) if len(members) > 1 else members[0])
            chars = _start_chars(guard) if outer else None
            if chars is not None and not chars & set('abcdefghijklmnopqrstuvwxyz'):
                symbols.append(group)
                symbol_chars |= chars
            else:
                out.append(group)
    # The groups that start with no letter behind one more look-ahead on all their first
    # characters: a position in a word then costs one look-ahead for all of them.
    # (It costs runs of escapes one more look-ahead each: slots other than 3 then spend up
    # to a fifth more on a megabyte of '%', of blanks or of '${'.)
    if outer and len(symbols) > 2:
        high = '\\x{80}-\\x{10ffff}' if '\x80' in symbol_chars else ''
        ascii_chars = ''.join(_class_char(ord(c)) for c in sorted(symbol_chars) if c != '\x80')
        out.append('(?=[' + ascii_chars + high + '])' + alt(*symbols))
    else:
        out.extend(symbols)
    return alt(*out)


def _start_chars(guard):
    """The ASCII characters a guard made by top() lets a match start with, or None when
    that is more than its leading character class tells."""
    m = re.match(r'\(\?=(\[(?:\\.|[^\]\\])*\])?(\|?%.*)?\)$', guard)
    if not m or not (m.group(1) or m.group(2)):
        return None
    chars = set()
    if m.group(1):
        body = m.group(1).replace('\\x{80}-\\x{10ffff}', '')
        chars = {chr(c) for c in range(128) if re.fullmatch(body, chr(c))}
        if body != m.group(1):
            chars.add('\x80')  # stands for every character from U+0080 on
    if m.group(2):
        chars.add('%')
    return chars


# ---------------- slot 1: SQL injection (compact)
# A plus between blanks: the blanks (which a plus is one of) have taken it already, so it is
# looked for behind them.
PLUS_BLANK = r'(?<=[+b])(?<=\+|%2b)'
# single steps of bounded repeats, as blocks: a repeat copies its group once per count
NOT_Q = D('nq', r'(?:(?!' + Q + r')[^&\s])', called=True)
NOT_FROM = D('nf', r'(?:(?!from)[^&\s])', called=True)
LP_OR_MINUS = D('lpm', r'(?:' + LP + r'|-)', called=True)
# A value closed by its own quote and what follows it up to the next quote: =aa' is 0
QUOTED_VALUE = r'=' + D('qv', r'(?:[a-z0-9_.@-]|\+|%20){0,12}+' + ANYQ + r'(?:[^&\s\'"%]|%(?!27|22|2527|2522)){0,60}?', called=True)
FUNCS_T = r'(?:json|json_valid|json_extract|json_type|glob|likelihood|unlikely|sqlite_version|sqlite_compileoption_used|sqlite_compileoption_get|zeroblob|typeof|load_extension|sleep|pg_sleep|benchmark|elt|make_set|extractvalue|updatexml|exp|ascii|substring|substr|mid|ord|length|if|iif|char|chr|exists|select|case|count|concat|concat_ws|group_concat|nullif|ifnull|isnull|coalesce|cast|convert|row|rand|floor|version|database|user|current_user|system_user|schema|load_file|randomblob|regexp_substring|instr|locate|hex|unhex|md5|sha1|utl_inaddr\.get_host_address|dbms_pipe\.receive_message|ctxsys\.drithsx\.sn|dbms_utility\.sqlid_to_sqlhash|xmltype|upper|lower|not|in)'
slot1 = top(*joined([WB, '=', Q, ANYQ, ANYQ + SPS],
  # union based
  WB + r'union' + SQPL + r'(?:(?:all|distinct|distinctrow)' + SQPL + ')?select' + WE + r'(?=(?:(?!\shttp/)[^&]){0,100}?(?:' + COMMA + r'|from|' + LP + r'|@@|null|' + STAR + r'|0x|--|' + HASH + r'|' + ANYQ + r'|' + NUM + r'))',
  # boolean and tautology after a quote, number or closing parenthesis
  r'(?:' + ANYQ + r'|' + NUM + r'|' + RP + ')' + r'(?:' + SP1 + '|' + RP + '){0,6}+' + WB + r'(?:or|and|xor|&&|' + AMP + AMP + r'|\|\||' + PIPE + PIPE + ')' + WE + SQSL + alt(
      r'(?:not' + SPP + r')?(?:' + ANYQ + r')?[a-z0-9_.$@]{0,24}(?:' + LP + SPS + RP + r')?(?:' + ANYQ + r')?' + SQS + alt(EQ, r'<>', r'!=', LT + GT, LT, GT, r'like' + WE, r'rlike' + WE, r'regexp' + WE, r'between' + WE, r'in' + SPS + LP, r'is' + SPP + r'(?:not' + SPP + ')?null', r'sounds' + SPP + 'like'),
      r'(?:not' + SPP + r')?(?:\d+|true|false|null)' + alt(SPS + alt('--', '%2d%2d', HASH, r'/\*', SEMI, r'%00'), r'$'),
      r'(?:not' + SPP + r')?(?:true|false)' + WE + alt(r'&', r'\s', r'"', ANYQ, SP1),
      FUNCS_T + SPS + LP,
      r'(?:[a-z_]{1,30}\.){1,3}[a-z_]{1,40}' + SPS + LP,
  ),
  # quote closed and the rest commented out; a quote, an SQL operator and a comment that
  # ends the value (x'<email--, z'or email notnull--, user'collate nocase--, ' is not?--);
  # string concatenation after a quote ('||'x, '||true, '||version())
  Q + alt(r'(?:' + SP1 + '|' + RP + r'){0,6}+(?:--(?:' + SP1 + r'|$|&|-|")|%2d%2d|' + HASH + r'|/\*|' + SEMI + SPS + r'%00)',
          NOT_Q + r"{0,40}?(?:" + WB + r"(?:or|and|xor|not|is|like|ilike|rlike|glob|regexp|collate|notnull|isnull|mod|div|between|similar)(?![a-z_]|%[89a-f][0-9a-f])|[=<>!^|*/]|%3d|%3c|%3e|%21|%5e|%7c|%2a|%2f|%25|%252b)" + NOT_Q + r"{0,40}?(?:--|%2d%2d)(?:-|" + SP1 + r"-?)?(?=&|\s|$)",
          SPS + PIPE + PIPE + SPS + alt(ANYQ, r'(?:true|false|null)' + WE, r'\d', r'select' + WE, r'[a-z_][a-z0-9_]{1,40}' + SPS + LP)),
  # stacked queries
  SEMI + SPS + alt(
      r'(?:drop|truncate|alter|create)' + SPP + r'(?:table|database|schema|user|procedure|function|view|index|trigger|login)' + WE,
      r'insert' + SPP + 'into' + WE, r'delete' + SPP + 'from' + WE, r'update' + SPP + r'[a-z0-9_.\[\]`]{1,40}' + SPP + r'set' + WE,
      r'(?:exec|execute)' + WE, r'declare' + SPP + AT, r'(?:shutdown|waitfor)' + WE, r'select' + SQP, r'i?if' + SPS + LP, r'(?:call|begin)' + SPP + r'[a-z_]{1,30}[.(]'),
  # sqlmap style conditional functions with a numeric comparison
  WB + r'(?:i?if|elt|make_set|case' + SQP + r'when|when)' + SQSL + r'\d+' + SQS + EQ + SQS + r'\d+' + SPS + alt(COMMA, RP, r'then' + WE),
  LP + SPS + r'\d+' + SPS + EQ + SPS + r'\d+' + SPS + RP + SPS + alt(STAR, r'\+', '-', '/', PIPE, AMP, r'(?:and|or|xor)' + WE),
  # subselects
  LP + SQS + r'select' + SQPL + alt(STAR, r'(?:ord|mid|left|right|length|char_length)' + SPS + LP, r'[^&]{1,60}?' + SQP + r'from' + SQP + r'dual' + WE, AT + AT + '?[a-z]', r'null', r'case' + WE, r'count' + SPS + LP, r'concat', r'(?:char|chr)' + SPS + LP, r'\d+' + SPS + r'(?:' + COMMA + r'|from' + WE + r'|' + RP + ')', r'0x', r'if' + SPS + LP, r'(?:pg_)?sleep', r'benchmark', r'(?:current_)?user', r'database', r'version', r'schema', r'table_name', r'column_name', r'group_concat', r'load_file', r'substr', r'ascii', r'top' + SPP + r'\d', r'distinct', r'name' + SQP + 'from', r'[a-z_]{1,30}' + SQP + r'from' + SQP + r'[a-z_.$]{1,40}' + SQP + r'(?:where|limit|order|group)' + WE, ANYQ + r'[a-z0-9]{0,30}' + ANYQ + SQS + alt(COMMA, 'from', 'where')),
  WB + r'select' + SQPL + alt(AT + AT + '[a-z]', r'null' + SQS + COMMA, r'count' + SPS + LP + SPS + STAR, r'concat(?:_ws)?' + SPS + LP, r'(?:char|chr)' + SPS + LP + r'\d', r'\d+' + SQS + COMMA + SQS + r'\d+' + SQS + COMMA, r'(?:pg_)?sleep' + SPS + LP, r'benchmark' + SPS + LP, r'(?:current_user|database|version|user|schema)' + SPS + LP + SPS + RP, r'table_name' + SQP + 'from', r'column_name', r'group_concat', r'load_file', r'[a-z0-9_,*]{1,40}' + SQP + r'from' + SQP + r'(?:information_schema|mysql\.|sys\.|sysobjects|syscolumns|master\.|dual\b|pg_|all_tables|all_tab_|user_tables|sqlite_master)'),
  # time based and error based functions
  WB + r'(?:sleep|pg_sleep)' + SPS + LP + SPS + r'(?:\d|' + LP + ')',
  WB + r'benchmark' + SPS + LP + SPS + r'\d+' + SPS + COMMA,
  WB + r'waitfor' + SPP + r'(?:delay|time)' + SPP + ANYQ,
  r'(?:dbms_pipe\.receive_message|dbms_lock\.sleep|user_lock\.sleep|utl_inaddr|utl_http|ctxsys\.drithsx|dbms_xdb|dbms_utility|dbms_java|sys\.dbms_|xp_cmdshell|xp_regread|xp_dirtree|xp_fileexist|sp_oacreate|sp_executesql|sp_makewebtask|sp_addextendedproc|sp_password|openrowset|opendatasource|is_srvrolemember|information_schema' + DOT + r'|pg_catalog|pg_shadow|sqlite_master|msysobjects|mysql\.user|master\.\.sys|sysobjects|syscolumns|sysdatabases|rdb\$[a-z]|all_tab_columns|@@version|@@servername|@@datadir|@@hostname)',
  WB + r'(?:extractvalue|updatexml|name_const|gtid_subset|json_keys|randomblob|generate_series|regexp_substring)' + SPS + LP,
  WB + r'floor' + SPS + LP + SPS + r'rand' + SPS + LP,
  WB + r'exp' + SPS + LP + SPS + r'~',
  WB + r'load_file' + SPS + LP, WB + r'into' + SPP + r'(?:out|dump)file' + WE,
  WB + r'(?:char|chr)' + SPS + LP + SPS + r'\d{1,3}' + SPS + RP + SQS + r'(?:' + alt(PIPE + PIPE, AMP) + r')?' + SQS + r'(?:char|chr)' + SPS + LP,
  WB + r'char' + SPS + LP + SPS + r'\d{1,3}' + SPS + COMMA + SPS + r'\d{1,3}' + SPS + COMMA,
  WB + r'concat(?:_ws)?' + SPS + LP + r'[^&]{0,40}?(?:0x[0-9a-f]{2}|(?:char|chr)' + SPS + LP + '|select' + WE + '|@@)',
  WB + r'convert' + SPS + LP + SPS + r'int' + SPS + COMMA,
  WB + r'cast' + SPS + LP + r'[^&]{0,60}?' + SPP + r'as' + SPP + r'(?:n?varchar|n?char|int|numeric|text)' + WE + r'[^&]{0,60}?' + RP + SQS + alt(EQ, GT, LT, PIPE),
  *[lead + SQP + r'(?:order|group)' + SQP + r'by' + SQP + r'[\d,a-z_]{1,40}' + r'(?:' + SQP + r'(?:asc|desc)' + WE + r')?' + alt(SQS + alt('--', HASH, r'/\*', r'%00', SP1 + r'having' + WE), r'$', r'&', SP1) for lead in (ANYQ, NUM, RP)],
  WB + r'procedure' + SPP + r'analyse' + SPS + LP,
  WB + r'having' + SQP + r'\d+' + SQS + EQ + SQS + r'\d',
  WB + r'(?:exec|execute)' + SQP + r'(?:master\.|xp_|sp_)',
  WB + r'declare' + SPP + AT + r'[a-z_0-9]{1,30}' + SPP + r'(?:n?varchar|n?char|int|table|sysname|cursor)' + WE,
  r'/\*!\d{0,6}' + SPS + r'(?:union|select|and|or|from|where|concat|information_schema)' + WE,
  # LDAP filter injection: *)(uid=*))(|(uid=*
  RP + SPS + LP + SPS + alt(PIPE, AMP, BANG) + SPS + LP + r'[a-z0-9_-]{1,30}' + SPS + alt(EQ, STAR, r'~', LT, GT),
  STAR + SPS + RP + SPS + LP + r'[a-z0-9_-]{1,30}' + SPS + EQ + SPS + STAR,
  # NoSQL operators in parameter names or JSON
  r'(?:\[|%5b|%255b)' + DOL + r'(?:ne|gt|gte|lt|lte|regex|where|exists|nin|in|or|and|not|nor|elemmatch|expr|function)(?:\]|%5d|%255d)',
  ANYQ + DOL + r'(?:where|regex|ne|gt|expr|function)' + ANYQ + SPS + COLON,
  # order by N column probes without a quote before them
  WB + r'order' + SQP + r'by' + SQP + r'\d{1,4}' + r'(?:' + SQP + r'(?:asc|desc)' + WE + r')?' + alt(SQS + alt('--', HASH, r'/\*', r'%00', SEMI), r'(?=&|\s|$)'),
  # tautologies and comparisons after a blank, without a quote before them
  r'(?:' + SP1 + r'|' + RP + r')' + WB + r'(?:or|and|xor|&&|\|\||' + AMP + AMP + r'|' + PIPE + PIPE + r')' + SQP + alt(
      LP_OR_MINUS + r'{0,16}+\d+' + RP + r'{0,16}+(?:(?:' + SQS + alt('-', STAR, '/', '%2f') + SQS + r'|' + SQP + r')' + LP + r'{0,16}+\d+' + RP + r'{0,16}+){0,8}+' + SQS + alt(EQ, r'<>', r'!=', LT + GT, LT, GT, r'like' + WE) + SQS + LP_OR_MINUS + r'{0,16}+\d',
      r'(?:not' + SPP + r')?(?:' + LP + SPS + r')?(?:true|false|null)' + WE + SPS + r'(?:' + RP + r')?' + SQS + alt('--', HASH, r'/\*', SEMI, r'(?=&|\s|$|' + RP + r')'),
      r'(?:' + LP + r')?' + ANYQ + r'[a-z0-9]{0,20}' + ANYQ + SQS + EQ + SQS + ANYQ,
  ),
  # quote-only fuzz: '-', "^", '&', '|'
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + ANYQ + SPS + alt('-', r'\^', STAR, PIPE, AMP, PLUS_BLANK, '/', '%2f') + SPS + ANYQ + r'(?=&|\s|$)',
  # a double quote closed and the rest commented out
  DQ + r'(?:' + SP1 + '|' + RP + r')*+(?:--(?:' + SP1 + r'|$|&|-)|%2d%2d|' + HASH + r'|/\*)',
  # stand-alone statements
  WB + r'select' + SQP + r'[a-z_]{1,40}' + SPS + LP,
  # a sub-select opened by a parenthesis or joined by AND/OR, ended with the value:
  # ) or (select password from users, 1 and select top 10 name from users --
  WB + r'select(?<=[(+08]select)(?<=' + '|'.join(x + 'select' for x in (r'\(', '%28', r'\(%20', '%28%20', r'\(\+', r'%28\+', '[^a-z_]or%20', r'[^a-z_]or\+', '[^a-z_]and%20', r'[^a-z_]and\+')) + ')' + SQP + r'(?:top' + SQP + r'\d{1,6}' + SQP + r')?[a-z0-9_.*`\[\]@(),]{1,60}?' + SQP + r'from' + SQP + r'[a-z0-9_.`\[\]$]{1,60}' + alt(SQS + alt(RP, '--', HASH), r'$', r'&', r'(?=\s)'),
  WB + r'select' + SQP + r'(?=' + NOT_FROM + r'{0,100}?(?:' + COMMA + r'|' + LP + r'|' + AT + r'|' + ANYQ + r'|' + NUM + r'))[^&\s]{0,100}?' + SP1 + r'from' + SQP + r'[a-z0-9_.`\[\]]{1,60}' + SQP + r'(?:where|limit|order|group|union|having)' + WE,
  WB + r'load' + SPP + r'(?:data|xml)' + SPP + r'(?:local' + SPP + r')?infile' + WE,
  # nested SQL functions: ascii(substring(...)), length(version())
  WB + r'(?:ascii|ord|length|len|substring|substr|mid|hex|unhex|conv|lpad|rpad|compress|uncompress|char_length|lower|upper|reverse|sin|cos|abs|coercibility|charset|collation|binary)' + SPS + LP + SPS + r'(?:\(' + SPS + r'){0,8}+(?:ascii|substring|substr|mid|version|user|database|schema|current_user|system_user|select|length|compress|hex|concat|char|password|@@)' + WE,
  WB + r'(?:version|database|user|current_user|system_user|schema|connection_id|last_insert_id)' + SPS + LP + SPS + RP + SQS + alt(RP, COMMA, r'(?=&|\s|$)', r'--', HASH),
  # a quote, an operator and another quote: 'x'!='y', a' not rlike 'b, ' or '; UNION
  # SELECT right after a quote, nothing needed after it
  ANYQ + SPS + alt(r'(?:not' + SPP + r')?' + alt(r'rlike', r'regexp', r'like', r'glob', r'!=', r'%21%3d', r'<>', r'%3c%3e', r'\^', r'%5e', r'%25', PIPE + r'(?:' + PIPE + r')?', r'(?:or|and|xor|div|mod)' + WE, EQ, LT + r'(?:' + EQ + GT + r'?|' + LT + r')?', GT + r'(?:' + EQ + r'|' + GT + r')?', STAR, AMP + AMP, PLUS_BLANK, r'sounds' + SPP + r'like' + WE) + SPS + ANYQ,
                   WB + r'union' + SQPL + r'(?:(?:all|distinct)' + SQPL + r')?select' + WE),
  # a word closed by a quote and an SQL operator right after it (aa'like-'aa, asd"or!1,
  # aa'in (0), 1"or!(false)), or string arithmetic with the next quoted word (a' - 'b,
  # a' / 'b, a' & 'b); not after a percent escape, which ends in a letter or digit too
  r'(?<=[a-z0-9])(?<!%[0-9a-f]{2})' + ANYQ + alt(
      r'(?:or|and|xor|like|rlike|regexp|div)' + alt(SPP + alt(r'\d', ANYQ, LP, r'not' + WE, '-', BANG), alt(r'\d', ANYQ, LP, '-', BANG)),
      r'(?:in|is)' + SPS + LP,
      SPS + alt('-', '%2d', '/', '%2f', '%26', r'&(?=' + SP1 + r')') + SPS + ANYQ + r'[a-z0-9]'),
  # a value closed by its own quote, an expression, OR and a quote opened for the query's
  # closing one: =aa' is 0 or '1, =1'*column is \n or '1, =asd"or-1 xor"0 (AND, LIKE, IS
  # and a symbol before that quote cost the literal gate its rarer literals)
  QUOTED_VALUE + WB + r'(?:or|xor)' + WE + r'(?:' + SP1 + r'|[-!~]|%21|%7e)*+' + ANYQ + r'-?[0-9a-z][0-9a-z.]{0,5}(?=&|\s|$)',
  # the same with AND, LIKE, IS or an operator sign before the last quote, closed by a
  # number: =aa'|3!='4, =1'*column-0-'0, =aa'like-'1 (a number keeps the literals rare)
  QUOTED_VALUE + alt(WB + r'(?:and|like|rlike|regexp|is|in|div|mod|not)' + WE, r'[-|^*/=!<>]', r'%7c', r'%5e', r'%2a', r'%2f', r'%3d', r'%21', r'%3c', r'%3e', r'%2b', r'%26') + r'(?:' + SP1 + r'|[-!~]|%21|%7e)*+' + ANYQ + r'\d(?=\d{0,2}(?:&|\s|$))',
  # a PostgreSQL cast of a quoted, bracketed or numeric value: '1'::int, (...)::jsonb
  r'''(?<=['")\d]|%27|%22|%29)''' + COLON + COLON + r'(?:int|integer|bigint|smallint|text|varchar|jsonb?|numeric|regclass|bool|boolean|float|bytea)' + WE,
  # a comment and line break before a keyword: -1%23%0d%0aunion
  alt(HASH, '--') + r'[^&\s]{0,40}?' + NL + r'(?:' + SQLSEP + r')*+(?:union|select|and|or|having|insert|update|delete|drop)' + WE,
  r'(?:\*|%2a)(?:/|%2f)' + r'(?:' + SQLSEP + r'){0,8}+(?:union|select|from|having)' + WE,
  WB + r'group' + SQP + r'by' + SQP + r'[^&\s]{1,60}?' + SQP + r'having' + WE, WB + r'case' + SQP + r'when' + SQP + r'[^&]{1,80}?' + SQP + r'then' + WE,
  # a value closed by a quote and a semicolon, nothing after them: admin@x.example';
  Q + r'(?:' + SP1 + r')*+' + SEMI + r'(?=&|\s|$)',
  # a tautology inside HAVING: having (1 or 1), having (true or 1)
  WB + r'having' + SQP + LP + SPS + r'(?:\d{1,6}|true|false)' + SPP + r'(?:or|and|xor)' + SPP + r'(?:\d{1,6}|true|false)' + SPS + RP,
  # typographic quotes used as quotes: 1%e2%80%99 or %e2%80%991, 1%c2%b4 or %c2%b41
  r'(?:%e2%80%99|%c2%b4)' + SPS + WB + r'(?:or|and)' + SPP + r'(?:%e2%80%99|%c2%b4)' + r'\d',
  # a numeric value closed by a lone quote, the first probe of every scanner: id=12'
  r"=\d{1,12}(?:'|%27|%2527)[& ]",
  # MySQL version comments whatever follows them: /*!32302 1/0
  r'(?:/|%2f)(?:\*|%2a)(?:!|%21)\d{5}',
  # T-SQL: exec(@x)
  WB + r'exec(?:ute)?' + SPS + LP + SPS + AT,
  # PostgreSQL file and large-object functions
  WB + r'(?:lo_import|lo_export|lo_get|lo_put|lo_from_bytea|pg_read_file|pg_read_binary_file|pg_ls_dir|pg_stat_file|current_setting|set_config|query_to_xml|dblink_connect|dblink)' + SPS + LP,
  # a value that starts with a number, a parenthesis or a variable, and a comment that
  # ends it after a number, a closing parenthesis or a variable: 1 --, ( (select 1) )  --,
  # @version --, 1 * 1 /* (not choose or (select a size) top 10 --)
  r'=(?:[(@\d]|%28|%40)[^&\s]{0,80}?(?:' + NUM + r'|' + RP + r'|' + AT + r'(?:' + AT + r')?[a-z_]{1,30})' + r'(?:(?:' + RP + r'){0,2}+' + SP1 + r'){1,6}+' + alt(r'--', r'%2d%2d', r'/\*', r'%2f%2a') + r'(?:' + SP1 + r'{0,3}+-?[a-z0-9]{0,3})?(?=&|\s|$)',
  # a value made of one SQL function name and its opening parenthesis, the rarer names
  # maybe after a character or two of filler: =group_concat(, =md5\(, =ifnull||!!$(; the
  # names that begin ordinary values (=date, =user) only with the parenthesis right after
  # them, so the literal gate sees =date( rather than =date
  r'=(?:group_concat|concat_ws|concat|substring|substr|unhex|ifnull|isnull|nullif|coalesce|md5|sha1|sha2|sysdate|sleep|benchmark|char_length|uncompress|xmltype|ascii|instr|locate|soundex|strcmp|extractvalue|updatexml|json_extract|pg_sleep)' + r'(?:[^a-z0-9_&\s%(]|%(?!28)[0-9a-f]{2}|\+){0,6}+' + LP + r'(?=&|\s|$)',
  r'=(?:mid|hex|insert|trim|ltrim|rtrim|sin|cos|tan|floor|ceil|ceiling|round|format|if|iif|elt|left|right|lower|upper|lcase|ucase|length|ln|log|exp|max|min|avg|sum|month|year|day|date|now|version|database|schema|user|current_user|compress|encode|decode|values|default|local|ord|char|chr|position|reverse|repeat|replace|space|cast|convert|in)' + r'(?:\+|%20)?' + alt(r'\(', r'%28', r'%2528') + r'(?=&|\s|$)',
  # a subselect inside parentheses: ( (select 1 or 1) ), (select (1
  LP + SPS + LP + SQS + r'select' + SQPL + alt(r'\d+' + SQP + r'(?:or|and|xor|in|limit|like|is)' + WE, ANYQ, r'binary' + WE, AT),
  # XOR at the start of a value and a comparison: =xor 2 <, =xor 'b' >
  r'=xor' + SPP + r'(?:' + ANYQ + r')?[a-z0-9]{1,12}(?:' + ANYQ + r')?' + SPS + alt(LT, GT, '-', BANG, EQ) + r'(?=&|\s|$)',
  # UNION SELECT with comment blanks and nothing column-like after it
  WB + r'union' + r'(?:' + SQLSEP + r')*+(?:/|%2f)(?:\*|%2a)[^&\s]{0,40}?(?:\*|%2a)(?:/|%2f)(?:' + SQLSEP + r')*+(?:all' + SQP + r')?select' + WE,  # a number written so that UNION follows it without a blank: 1funion, 1.union, 1e0union
  r'(?<=[=(,+]|%20|%28|%2c)\d{1,10}(?:\.\d{0,3}|e\d{0,3}|[fd])union' + SQPL + r'(?:(?:all|distinct)' + SQPL + ')?select' + WE,
  # SELECT of a catalogue table or column, however its names are quoted or split:
  # select"table_name"from[information_schema], select 0x.. from all_tab_tables
  WB + r'select' + SPS + alt(r'[{"`$\[]', DQ, BT, LB, DOL, r'information_schema' + WE) + r'[^&]{0,40}?(?:table_name|column_name|table_schema|information_schema|all_tab_tables|all_tab_columns|all_tables|sysobjects)' + WE,
  # a server variable as the value and a comment after it: =@version --, =@@version/*
  r'=' + AT + r'(?:' + AT + r')?[a-z_]{1,30}' + SPS + alt(r'--', r'%2d%2d', r'/\*', r'%2f%2a') + r'(?:' + SP1 + r'{0,3}+-?[a-z0-9]{0,3})?(?=&|\s|$)',
  # arithmetic on numbers and a comment: =1 * 1--, =2-1--
  r'=\d{1,10}(?:' + SPS + alt(STAR, r'\+', '/', '-') + SPS + r'\d{1,10}){1,4}+' + SPS + alt('--', '%2d%2d') + r'(?=&|\s|$)',
  # a stacked BEGIN ... END block: '; begin shutdown end--
  SEMI + SPS + r'begin' + SPP + r'[a-z_]{1,30}(?:' + SPP + r'[a-z0-9_]{1,30}){0,4}' + SPP + r'end' + WE,
  # ORDER BY a condition or a subselect: order by if(1<2, ...), order by (select ...)
  WB + r'order' + SQP + r'by' + SQP + alt(r'i?if' + SPS + LP, r'case' + SQP + r'when' + WE, LP + SQS + r'select' + WE, r'(?:sleep|benchmark|rand)' + SPS + LP),
  # a function's result compared: database() like schema(), version() = '5'
  WB + r'(?:version|database|current_user|system_user|schema|connection_id)' + SPS + LP + SPS + RP + SQS + alt(r'like' + WE, r'rlike' + WE, r'regexp' + WE, EQ, LT + GT, r'!='),
  # EXCEPT or INTERSECT with a SELECT or VALUES: except select 1,2
  WB + r'(?:except|intersect)' + SQPL + alt(r'select' + WE, r'values' + SPS + LP),
  # definitions no form sends: create function f(...), alter table t change ...
  WB + r'create' + SPP + r'(?:or' + SPP + r'replace' + SPP + r')?(?:function|procedure|trigger)' + SPP + r'[a-z0-9_.`"\[\]]{1,60}' + SPS + LP,
  WB + r'alter' + SPP + r'table' + SPP + r'[a-z0-9_.`"\[\]]{1,60}' + SPP + r'(?:add|change|drop|modify|rename|alter)' + WE,
  # a T-SQL variable declared (declare @x, declare/**/@b), pg_sleep named alone
  WB + r'declare' + SQP + AT + r'[a-z_]', WB + r'pg_sleep' + WE,
  # HAVING an aggregate: having count(id) > 5
  WB + r'having' + SQP + r'(?:count|sum|avg|min|max)' + SPS + LP,
  # AND or OR and a JSON or time function as the value: =or json_extract(, /or sleep(
  r'[=/](?:or|and)' + SQP + r'(?:json_[a-z]{3,20}|sleep|pg_sleep|benchmark|extractvalue|updatexml|ascii|substring|substr)' + SPS + LP,
  # JSON operators between quoted values: ' -> '$.c', '{"a":"b"}' ? 'a', ' ?| array[
  ANYQ + SPS + alt(r'(?:-|%2d)(?:>|%3e){1,2}' + SPS + ANYQ + DOL, r'(?:\?|%3f)(?:\||%7c|&|%26)?' + SPS + alt(ANYQ, r'array' + WE)),
  # a quote, OR or XOR and a word that ends the value with a sign: ' or xyz!, '  xor  abc-
  ANYQ + SPS + r'(?:or|xor|and)(?:' + SP1 + r'){1,4}+[a-z]{1,20}(?:!|-|%21|%2d)(?=&|\s|$)',
  # a quote, a semicolon and a comment (';#, '; --); a typographic quote and a comment
  Q + SPS + r'(?:;|%3b)' + SPS + alt(HASH, '--', r'/\*', r'%2d%2d'), r'(?:%e2%80%99|%c2%b4)' + SPS + alt(HASH, '--', r'/\*'),
  # a quote, an operator, a name and IS NULL: 1'^column is not null - ', 1'*@a is null
  ANYQ + SPS + r'(?:[\^*/|&]|%(?:5e|2a|2f|7c|26))' + SPS + r'(?:' + AT + r')?[a-z_][a-z0-9_]{0,30}' + SPP + r'is' + SPP + r'(?:not' + SPP + r')?null' + WE,
  # an escaped plus or slash between two quotes as a word of its own: a '%2b' b, '%2f'
  ANYQ + SPS + alt('%2b', '%2f') + SPS + ANYQ + r'(?=' + SP1 + r'|&|\s|$)',
  # AND or OR, a column and a comparison with a quote the query closes: =and (name = ", =or class!="
  r'=(?:and|or)' + SQP + r'(?:' + LP + SPS + r')?[a-z_][a-z0-9_]{0,30}' + SPS + alt(EQ, r'!=', r'%21%3d', LT + GT) + SPS + ANYQ + r'(?=&|\s|$)',
))

# ---------------- slot 2: cross-site scripting (compact)
EVENTS = r'(?:abort|activate|after[a-z]{0,15}|animation[a-z]{0,10}|auxclick|before[a-z]{0,20}|begin|blur|bounce|can[a-z]{0,15}|change|click|contextmenu|copy|cut|dbl[a-z]{0,6}|drag[a-z]{0,6}|drop|duration[a-z]{0,7}|end|ended|error|finish|focus[a-z]{0,4}|form[a-z]{0,6}|fullscreen[a-z]{0,6}|hashchange|input|invalid|key[a-z]{0,5}|load[a-z]{0,14}|message|mouse[a-z]{0,6}|move[a-z]{0,6}|offline|online|page[a-z]{0,4}|paste|pause|play[a-z]{0,3}|pointer[a-z]{0,10}|popstate|progress|property[a-z]{0,6}|readystatechange|repeat|reset|resize|scroll|search|seek[a-z]{0,3}|select[a-z]{0,6}|show|start|submit|timeupdate|toggle|touch[a-z]{0,6}|transition[a-z]{0,6}|unload|volumechange|waiting|wheel|filterchange|losecapture|help|storage|rowenter|rowexit|rowsinserted|rowsdelete|datasetchanged|dataavailable|errorupdate|cellchange|controlselect|layoutcomplete|zoom|beforeactivate)'
OBF = r'(?:' + E('(?:0[0-9a-f]|1[0-9a-f])') + r'|\s|\\0?|&tab;|&newline;|%26(?:tab|newline)(?:;|%3b))'
def obf(word): return (OBF + '{0,3}').join(word)
# (the alternatives that start alike are joined behind one copy of their start)
slot2 = top(*joined([WB, LT, ANYQ + SPS, LT + r'[a-z][a-z0-9:_-]{0,20}'],
  LT + r'(?:' + SPS + r'/)?' + r'(?:script|iframe|frame|frameset|svg|object|embed|applet|meta|base|isindex|xss|marquee|bgsound|layer|ilayer|math|xml|import|form|body|style|link|vmlframe|plaintext|xmp|noscript|noembed|title|textarea|template|portal|keygen|handler|listener|animate)' + WE,
  LT + r'[a-z][a-z0-9:_-]{0,20}' + alt(SP1, SL, DQ, Q) + r'[^<>]{0,200}?' + WB + r'on' + EVENTS + SPS + EQ,
  alt(SP1, ANYQ, SL, SEMI, r'\?') + r'on' + EVENTS + SPS + EQ + r'[^&]{0,40}?(?:alert|prompt|confirm|eval|javascript|document|window|location|fetch|import|top|this|self|parent|string\.|atob|\[|' + LP + '|' + BT + ')',
  LT + SPS + r'(?:img|image|input|video|audio|source|a|table|td|div|embed|iframe|frame|body|bgsound|link|base|meta|br|layer|object|isindex|style)' + WE + r'[^<>]{0,200}?' + alt('src', 'href', 'background', 'dynsrc', 'lowsrc', 'action', 'formaction', 'data', 'style', 'content', 'xlink:href', 'srcdoc', 'values', 'from', 'to', 'by') + SPS + EQ,
  WB + alt(obf('javascript'), obf('vbscript'), 'livescript', 'mocha', 'ecmascript') + OBF + r'{0,3}' + COLON,
  WB + r'data' + SPS + COLON + SPS + r'(?:text' + SL + r'(?:html|javascript|xml|vbscript)|image' + SL + r'svg|application' + SL + r'(?:x-)?(?:javascript|xhtml|ecmascript|x-shockwave))',
  WB + r'expression' + SPS + LP + r'[^&]{0,80}?' + RP, r'-moz-binding', WB + r'behavior' + SPS + COLON + SPS + r'url',
  WB + r'(?:alert|prompt|confirm|msgbox|execscript)' + SPS + alt(LP, BT),
  WB + r'(?:eval|settimeout|setinterval|atob)' + SPS + LP + r'[^&]{0,60}?' + RP,
  WB + r'document' + SPS + DOT + SPS + r'(?:cookie|write|location|domain|body|createelement|forms|url|referrer|documentelement|queryselector(?:all)?|getelementby[a-z]{2,10}|getelementsby[a-z]{2,10}|head|scripts|images|links|all)' + WE,
  WB + r'(?:window|top|self|parent|this)' + SPS + DOT + SPS + r'(?:location|name|eval|open)' + WE,
  r'string' + DOT + r'fromcharcode', r'\.innerhtml' + SPS + EQ, WB + r'location' + SPS + DOT + SPS + r'(?:href|hash|replace|assign)', r'constructor' + SPS + LP,
  ANYQ + SPS + r'(?:' + RP + SPS + ')?' + alt(SEMI, r'\+', '%2b', '-', PIPE + PIPE) + SPS + WB + r'(?:alert|prompt|confirm|eval|document|window|top|self|fetch|import)' + WE,
  ANYQ + SPS + r'/?' + GT + SPS + r'(?:' + SP1 + r'|' + ANYQ + r'){0,3}' + LT + SPS + r'[a-z!/?%]',
  LT + SPS + BANG + '--' + r'.{0,20}?' + LT,
  WB + r'(?:srcdoc|formaction|xlink:href)' + SPS + EQ,
  WB + r'style' + SPS + EQ + r'[^&]{0,80}?(?:expression|url' + SPS + LP + r'[^&]{0,10}?(?:javascript|data)|behavior|binding)',
  AT + r'import' + SPS + r'(?:url|' + ANYQ + r')',
  NL + r'(?:' + NL + r'|\s|%20|%09){0,4}(?:set-cookie|location|content-(?:type|length|disposition)|refresh|x-xss-protection|access-control-allow-[a-z]{1,12}|link|host)' + SPS + COLON,
  LT + r'(?:\?|' + QM + r')?(?:import|xml:namespace)' + WE,
  LT + BANG + r'(?:doctype|entity|\[cdata\[|%5bcdata%5b)' + WE,
  # an entity- or UTF-7-encoded < before a tag name that is not plain formatting
  r'(?:&lt|%26lt|%26%23x0{0,4}3c|%26%23x?0{0,4}60|\+adw-)(?:;|%3b)?' + SPSB + r'/?(?!(?:b|i|u|p|br|hr|em|strong|code|pre|small|sub|sup|li|ul|ol)' + WE + r')[a-z!]',
  # JSFuck, bracket access to globals, tagged template calls, new Function()
  LP + BANG + r'(?:\[|%5b)(?:\]|%5d)' + alt(r'\+', '%2b'), r'(?:\[|%5b)(?:\]|%5d)' + alt(r'\[', '%5b') + LP + BANG,
  WB + r'(?:window|self|top|parent|this|globalthis|frames|document)' + SPS + r'(?:\[|%5b)' + SPS + alt(ANYQ, r'/\*', r'%2f%2a', BT),
  DOT + SPS + r'(?:call|apply|bind|map|sort)' + SPS + BT, WB + r'new' + SPP + r'function' + SPS + LP,
  LT + r'[a-z]{1,10}+' + SPS + COLON + SPS + r'(?:vmlframe|script|stylesheet|svg|iframe|frame|object|embed|applet|import)' + WE, WB + r'ev' + COLON + r'(?:event|handler)' + SPS + EQ,
  # any on* handler inside a tag
  LT + r'[a-z][a-z0-9:_-]{0,20}' + alt(SP1, SL, DQ, Q) + r'[^<>]{0,200}?' + WB + r'on[a-z]{3,30}' + SPS + EQ,
  LT + r'(?:set|animate|animatemotion|animatetransform|discard|feimage|use|image|foreignobject|details|dialog|picture|source|track|video|audio)' + SP1 + r'[^<>]{0,200}?(?:attributename|href|xlink:href|values|to|from|open|src)' + SPS + EQ,
  LT + r'h[1-6]' + alt(SP1, GT) + r'[^&]{0,200}?' + LT + r'(?:/h[1-6]|a|img|iframe|form|input|div|font|marquee)' + WE,
  # an on* handler right after a quote that closes an attribute ("onzoom=), or as a
  # parameter name behind blanks; a tag that declares an XML namespace (<x xmlns=)
  ANYQ + SPS + r'on[a-z]{3,40}' + SPS + EQ, r'[?&](?:' + SP1 + r')++on[a-z]{3,40}' + SPS + EQ,
  LT + r'[a-z][a-z0-9:_-]{0,20}(?:' + SP1 + r'|' + NL + r')++xmlns(?:' + COLON + r'[a-z0-9]{1,20})?' + SPS + EQ,
))

# ---------------- slot 3: path traversal, local and remote file inclusion (compact)
# An escaped blank before an absolute path (cat+/etc/x). Not a raw one: the blank after the
# method stands before the site's own paths (/home/about/, /tmp/upload.html).
ESC_BLANK = r'(?:\+|%(?:20|09|0a|0b|0c|0d|a0|2b)|%u0020|%c2%a0)'
WEBINF = r'web-inf' + SL + r'(?:web' + DOT + r'xml|classes' + SL + r'|lib' + SL + r'|[a-z0-9_-]{1,30}' + DOT + r'(?:xml|properties))'
STEP = '(?:' + DOT + '{2}(?:' + DOT + '{1,2}|' + SEMI + ')?' + SL + '{1,3})'
TARGET = alt(
  r'etc' + SL + r'{0,3}(?:passwd|shadow|group|hosts|issue|motd|sudoers|crontab|fstab|profile|hostname|resolv\.conf|my\.cnf|mysql|httpd|apache2?|nginx|ssh|security|php|environment|init\.d|master\.passwd|pwd\.db|inittab|netrc|aliases)',
  r'(?:proc|self)' + SL + r'(?:self|\d+|thread-self)' + SL + r'(?:environ|cmdline|fd|maps|status|mounts|stat|exe|cwd)',
  r'proc' + SL + r'(?:version|cpuinfo|meminfo|net' + SL + ')',
  r'var' + SL + r'(?:log|www|lib|mail|spool|run|tmp)' + SL, r'(?:usr|opt)' + SL + r'(?:local|bin|sbin|share|lib)',
  r'root' + SL, r'home' + SL, r'tmp' + SL, r'\.ssh' + SL, r'id_[rd]sa', r'authorized_keys', r'\.bash_history', r'\.bashrc', r'\.htpasswd', r'\.htaccess',
  r'(?:b?oot|win|system|php|my)' + DOT + 'ini', r'windows' + SL, r'winnt' + SL, r'system32', r'inetpub', r'web-inf', r'meta-inf', r'global' + DOT + r'asax?',
  r'wp-config', r'config' + DOT + r'(?:php|inc|xml|json|yml|yaml|ini|properties)', r'\.env' + WE, r'application' + DOT + r'(?:properties|yml)', r'database' + DOT + r'yml',
  r'(?:local)?settings' + DOT + r'(?:py|php)', r'configuration' + DOT + 'php', r'web' + DOT + r'(?:config|xml)', r'boot' + DOT + r'ini', r'autoexec' + DOT + 'bat', r'etc' + SL, r'bin' + SL,
)
INCLUDE_PARAM = r'[?&](?:[a-z0-9_]{0,30}_path|[a-z0-9_]{0,30}dir|include|inc|include_file|root|page|file|filename|template|tpl|path|doc|document|folder|load|read|require|module|mod|lang|language|theme|conf|config|base|basepath|mosconfig_[a-z_]{1,30}|pg|layout|view|content|show|site|action|cat|skin|style|header|footer|menu|nav|plugin)(?:\[[a-z_]{1,20}\]|%5b[a-z_]{1,20}%5d)?'
slot3 = top(*joined([WB, SL, r'(?:' + EQ + SPS + r'|^' + SPSB + r')', STEP, DOT],
  STEP + '{2}',
  STEP + r'[^&\s"]{0,60}?' + TARGET,
  DOT + r'{4,8}+' + r'[^&\s".]{0,30}?' + TARGET,
  SL + r'etc' + SL + r'{1,3}(?:passwd|shadow|group|hosts|issue|motd|sudoers|crontab|fstab|hostname|resolv\.conf|master\.passwd|security' + SL + r'|mysql' + SL + r'my\.cnf|httpd' + SL + r'|apache2?' + SL + r'|nginx' + SL + ')',
  r'etc' + SL + r'{0,3}(?:passwd|shadow)' + WE,
  SL + r'(?:proc|self)' + SL + r'(?:self|\d+)' + SL + r'(?:environ|cmdline|fd|maps|status|mounts)',
  WB + r'(?:boot|win|system)' + DOT + r'ini' + WE, r'(?:' + DOT + r'|[a-z]' + COLON + SL + r'?)oot' + DOT + 'ini',
  WB + r'[a-z]' + COLON + SL + r'{0,3}(?:windows|winnt|inetpub|boot' + DOT + r'ini|autoexec|system32)',
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + SL + r'(?:var' + SL + r'(?:log|www|lib|mail)' + SL + r'|root' + SL + r'|home' + SL + r'[a-z0-9_-]{1,30}' + SL + r'\.|usr' + SL + r'local' + SL + r'|tmp' + SL + r')',
  WB + r'(?:php|zip|phar|expect|glob|compress' + DOT + r'(?:zlib|bzip2)|data|jar|netdoc|gopher|dict|ogg|rar|ssh2|tftp|ldap)' + COLON + SL + SL,
  WB + r'php' + COLON + SL + SL + r'(?:filter|input|stdin|memory|temp|fd)',
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + r'(?:https?|gopher|dict|ftp|ldap)' + COLON + SL + SL + r'(?:127\.0\.0\.1|localhost|169\.254\.169\.254|0\.0\.0\.0|\[::1?\]|metadata\.google\.internal)(?::\d{1,5})?' + alt(SL, r'$', r'&', SP1, QM),
  WB + r'file' + COLON + r'(?:' + SL + r'|' + DOT + DOT + r'|[a-z]' + COLON + r')',
  WB + r'data' + COLON + SL + r'{0,2}text' + SL + r'plain' + SEMI + r'base64',
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + r'(?:https?|ftps?|smb)' + COLON + SL + SL + r'[^&\s"]{1,200}?(?:' + QM + r'|%00|%2500)(?:&|\s|$|"|' + QM + ')',
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + r'(?:https?|ftps?)' + COLON + SL + SL + r'[^&\s"?]{1,200}?' + DOT + r'(?:txt|dat|inc)' + QM,
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + r'(?:\\\\|%5c%5c|%255c%255c)[a-z0-9._-]{1,60}(?:\\|%5c|%255c)',
  # a server's own private files named as the value: web-inf/web.xml, .htpasswd
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + SL + WEBINF, r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + WEBINF,
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + SL + r'?' + DOT + r'ht(?:passwd|access|digest)' + WE,
  DOT + r'(?:php\d?|s?html?|jpe?g|png|gif|txt|ini|conf|cfg|xml|log|inc|asp|aspx|jsp|pl|cgi|sh|js|json|yml)' + r'(?:%00|%2500|\\x00|\\0)',
  SL + DOT + DOT + SEMI + SL,
  # absolute paths into system folders, as a value or after a separator, with or without %00
  r'(?:(?:' + EQ + r'|' + SEMI + r'|' + PIPE + r')' + SPS + r'|^' + SPSB + r'|' + ESC_BLANK + r')' + SL + r'{1,3}(?:etc' + SL + r'[a-z]|proc' + SL + r'[a-z0-9]|sys' + SL + r'(?:class|kernel|devices|module|fs|power|block|bus|firmware)|var' + SL + r'(?:log|adm|mail|spool|run|lib|cache|backups|db)' + SL + r'|root' + SL + r'|home' + SL + r'[^&\s/]{1,30}' + SL + r'|usr' + SL + r'(?:local|bin|sbin|share|lib|src)' + SL + r'|opt' + SL + r'[a-z]|dev' + SL + r'(?:shm|tcp|udp|null|mem|kmem|fd)|boot' + SL + r'|srv' + SL + r'|tmp' + SL + r'|bin' + SL + r'[a-z]|sbin' + SL + r'[a-z])',
  SL + r'etc' + SL + r'{1,3}(?:passwd|shadow|group|gshadow|subuid|subgid|hosts|issue|motd|sudoers|crontab|fstab|hostname|resolv' + DOT + r'conf|master' + DOT + r'passwd|security' + SL + r'|mysql' + SL + r'|httpd' + SL + r'|apache2?' + SL + r'|nginx' + SL + r'|ssh' + SL + r'|php[0-9.]{0,4}' + SL + r'|shells|profile|bashrc|environment|inittab|exports|ld' + DOT + r'so|machine-id|os-release|lsb-release|redhat-release|debian_version|mtab|network|sysconfig|pam' + DOT + r'd|cron|init' + DOT + r'd|rc' + DOT + r'd|aliases|ftpusers|vsftpd|samba|ldap|krb5|openvpn|wireguard|docker|kubernetes|ssl' + SL + r'|pki' + SL + r'|x11|apt' + SL + r'|yum)',
  SL + r'(?:proc' + SL + r'(?:self|\d{1,7}|thread-self|version|cpuinfo|meminfo|mounts|net' + SL + r'|sched_debug|kallsyms|modules|partitions|interrupts|devices|filesystems|swaps|uptime|loadavg|stat\b|cmdline|environ|config' + DOT + r'gz|sys' + SL + r')|var' + SL + r'(?:log|adm)' + SL + r'[a-z]|' + DOT + r'ssh' + SL + r'(?:authorized_keys|id_[rde]|known_hosts|config)|' + DOT + r'(?:bash_history|zsh_history|mysql_history|psql_history|docker' + SL + r'|kube' + SL + r'|aws' + SL + r'credentials|netrc|pgpass|git-credentials))',
  # Windows drive paths to system folders, with backslashes in any encoding
  WB + r'[a-z]' + COLON + r'(?:\\\\|%5c|%255c|%c0%5c|%u005c|/|%2f){1,2}(?:windows|winnt|inetpub|boot' + DOT + r'ini|autoexec|system32|documents' + SP1 + r'and' + SP1 + r'settings|programdata|xampp|wamp|php|apache|mysql|temp|ntuser|pagefile|sysprep|unattend|\$recycle)',
  # base64 of ../ and of /etc/passwd
  r'li4vli4v', r'li4uxc4u', EQ + r'li4v', r'l2v0yy9wyxnzd2', r'l2v0yy9zagfkb3c', r'c3lzdgvtmzi',
  # one ../ step before a script or configuration file
  STEP + r'(?:[a-z0-9_.-]{1,40}' + SL + r'){0,3}[a-z0-9_-]{1,40}' + DOT + r'(?:php\d?|phtml|asp|aspx|asa|jsp|jspx|conf|config|cfg|ini|inc|env|py|pl|cgi|sh|properties|yml|yaml|htaccess|htpasswd|db|sqlite|log|key|pem)' + alt(r'(?=&|\s|$|%00|%2500|' + QM + r')', SP1),
  # a remote script on a bare address, jar: and local_file: URLs, userinfo after an encoded slash
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')(?:https?|ftps?)' + COLON + SL + SL + r'(?:(?:\d{1,3}\.){3}\d{1,3}|\[?[0-9a-f]{1,4}(?::[0-9a-f]{0,4}){2,7}\]?)(?::\d{1,5})?' + SL + r'[^&\s?]{0,120}?' + DOT + r'(?:php\d?|txt|asp|aspx|jsp|pl|cgi|sh|py|inc|dat)' + alt(r'(?=&|\s|$)', QM),
  WB + r'jar' + COLON + r'(?:https?|file|ftp)' + COLON, WB + r'local_file' + COLON + SL + SL,
  r'(?:https?|ftp)' + COLON + SL + SL + r'[^/\s&@]{1,100}(?:%2f|%5c|%252f)[^/\s&]{0,40}@',
  r'[?&][a-z0-9_]{1,30}(?:\[|%5b)(?:[a-z_]{0,20}path|[a-z_]{0,20}dir|file|include|inc|root)(?:\]|%5d)' + EQ + SPS + r'(?:https?|ftps?)' + COLON + SL + SL,
  # remote inclusion through an include-style parameter, also protocol-relative
  INCLUDE_PARAM + EQ + SPS + r'(?:https?|ftps?)' + COLON + SL + SL + r'[^&\s]',
  INCLUDE_PARAM + r'(?:=|%3d)(?://|%2f%2f)[a-z0-9.-]{1,100}(?:/|%2f)[^&\s?]{0,100}?' + DOT + r'(?:php\d?|txt|inc|sh)' + alt(QM, r'&', r'\s', r'$'),
  SL + r'(?:web-inf|meta-inf)' + SL + r'?(?:web|classes|lib|config|' + DOT + r'|applicationcontext|struts|faces-config|jboss-web|weblogic|manifest|spring)',
), outer=True)

# ---------------- slot 4: OS command injection and code execution (compact)
CSEP = alt(SEMI, PIPE, BT, AMP + AMP, E('26'), r'&(?=' + SP1 + ')', DOL + LP, NL, r'\\[nr]', DOL + r'(?:\{ifs\}|ifs)')
CMD_SOLO = r'(?:id|whoami|uname|ifconfig|ipconfig|netstat|systeminfo|tasklist|hostname|pwd|ls|dir|env|printenv|uptime|lsb_release|getmac|sysinfo|lastlog|lsmod|lsof|getuid|hashdump|klist|qwinsta|quser|net' + SPP + r'(?:user|localgroup|view|share|config|accounts|session|group|use)|netsh' + SPP + r'[a-z]{3,20}|ps' + SPP + r'(?:-?aux|-ef)|arp' + SPP + r'-a|route' + SPP + r'print|getent' + SPP + r'(?:passwd|shadow|group|hosts)|ver)'
# called as one block: several rules of slots 4 and 8 name every command
CMD_ARG = D('cma', r'(?:cat|more|less|head|tail|type|nl|tac|od|xxd|strings|grep|find|wget|curl|fetch|lwp-download|tftp|ftp|scp|rsync|nc|ncat|netcat|telnet|socat|bash|sh|zsh|ksh|csh|tcsh|dash|python[23]?|perl|ruby|php|node|lua|powershell|pwsh|cmd|cscript|wscript|mshta|rundll32|regsvr32|certutil|bitsadmin|wmic|msiexec|nslookup|ping|sleep|echo|printf|kill|killall|pkill|rm|mkdir|chmod|chown|chattr|touch|cp|mv|ln|tar|unzip|base64|useradd|adduser|passwd|crontab|nohup|sudo|su|busybox|xterm|timeout|expr|awk|sed|xargs|dig|traceroute|tracert|ssh|uname|ls|dir|id|cd|set|reg|sc|net|vssadmin|schtasks|whoami|ipconfig|ifconfig|netstat|netsh|tee|fold|base32|flock|cpulimit|rmt|visudo|cscli|pipx|ansible(?:-[a-z]{2,12})?|chef(?:-[a-z]{2,12})?|taskkill|bcdedit|iwr|iwmi|iex|irm|invoke-webrequest|invoke-expression|invoke-restmethod|invoke-wmimethod|start-process|new-object|lastlog|sysinfo|icacls|findstr|attrib|cacls|takeown|robocopy|xcopy)', called=True)
# A letter, maybe percent-escaped.
LETTER = D('let', r'(?:[a-z]|%(?:6[1-9a-f]|7[0-9a]))', called=True)
# Shell insertions that leave a word as it is: quotes, backslashes, empty expansions
# ($@, ${x}, $()) and empty backtick pairs. who'am'i, "w"get and c${u}at run whoami, wget, cat.
SHINS = D('shi', alt(r"''", r'""', r"'", r'"', r'\\', E('(?:27|22|5c)'), BT + BT, DOL + alt(AT, STAR, r'\d', LB + r'[a-z0-9_]{0,10}' + RB, LP + RP)), called=True)
# up to two insertions, called as one block rather than copied between every two letters
SHINS2 = D('shi2', '(?:' + SHINS + '){0,2}+', called=True)
OBF_CMDS = ['whoami', 'wget', 'curl', 'python', 'python3', 'perl', 'ruby', 'php', 'bash', 'sh', 'cat', 'uname', 'passwd', 'echo', 'ping', 'chmod', 'busybox', 'socat', 'telnet', 'sleep']


def shell_split(word):
    """word with one or two shell insertions between two of its letters and at most two
    between any others: one alternative per position of the first, which the gate sees
    with the letters before it."""
    between = SHINS2
    return [word[:k] + SHINS + '(?:' + SHINS + ')?+' + between.join(word[k:]) for k in range(1, len(word))]


def globbed(folder):
    """folder with at least one of its letters written as a '?' wildcard: e?c, ??c, ???"""
    forms = itertools.product(*[(c, r'(?:\?|%3f)') for c in folder])
    return [''.join(x) for x in forms if ''.join(x) != folder]


# What PHP takes as blank between a function name and its parenthesis: blanks, and
# comments to the end of a line (# or //); PHPODD takes spaces only beside a tab, line
# break or comment, for names that are also words (solar system (planets) is text).
PHPCOMMENT = alt(HASH, r'(?:/|%2f)(?:/|%2f)') + r'[^&\s]{0,30}?' + NL
PHPBL = r'(?:' + SP1 + r'|' + PHPCOMMENT + r')*+'
PHPSPACE = r'(?:%20|\+| )*+'
# a tab or a comment (/* */, # or //), which text does not put before a parenthesis
PHPTAB = alt(E('(?:09|0b|0c)'), r'[\t\x0b\x0c]', r'(?:/|%2f)(?:\*|%2a)[^&\s]{0,30}?(?:\*|%2a)(?:/|%2f)', PHPCOMMENT)
PHPODD = alt(r'', r'(?:' + PHPSPACE + alt(PHPTAB, E('(?:0a|0d)'), r'[\n\r]') + r')++' + PHPSPACE)

# Commands that need no flag and are no ordinary words after an escaped ampersand.
FLAGLESS = r'aptitude|shutdown|reboot|visudo|strace|ltrace|nohup|bcdboot|bcdedit'

slot4 = top(*joined([WB, DOL, ANYQ, LP, PIPE, LT, BT, LB, SL],
  r'(?:' + WB + PIPE + r'|' + alt(SEMI, BT, AMP + AMP, E('26'), r'&(?=' + SP1 + ')', DOL + LP, NL, r'\\[nr]', DOL + r'(?:\{ifs\}|ifs)') + r')' + SPSB + CMD_SOLO + alt(SPS + alt(CSEP, r'$', r'&', DQ, Q, RP, r'%00', r'%23', GT), SP1, SPP + r'[-/a-z]'),
  alt(SEMI, BT, AMP + AMP, DOL + LP, NL, PIPE) + SPSB + r'(?:echo|ping|nslookup|wget|curl|nc|ncat|bash|sh|powershell|cmd|whoami|uname|ifconfig|ipconfig|netstat|ls|dir|net)' + SPP + r'[a-z0-9_-]{1,30}' + alt(SP1, CSEP, r'$', r'&', DQ, GT),
  CSEP + SPSB + r'(?:sleep|ping|timeout)' + SPP + r'(?:-[a-z]' + SPP + r')?\d{1,6}(?![\d.])',
  r'(?:' + alt(SEMI, PIPE, BT, AMP + AMP, DOL + LP, NL, r'&(?=' + SP1 + ')') + SPSB + r'|' + E('26') + r')' + CMD_ARG + r'(?:' + DOT + r'exe)?' + SPP + alt(r'-{1,2}[a-z]', SL + r'[a-z.~]', r'\.', r'~', r'[a-z]' + COLON, r'https?' + COLON, r'\d{1,3}\.\d', DOL, r'[0-7]{3,4}' + SPP + r'[a-z/.]', SL + r'(?=' + SP1 + r'|$|&)', r'(?!http/)[a-z0-9_-]{0,30}[./][a-z0-9_./-]{1,60}' + alt(SP1, CSEP, r'$', SL, GT, r'&')),
  WB + r'dir' + SPP + r'[a-z]' + COLON + alt(SL, DQ, r'$', r'&', SP1, PIPE),
  WB + r'ping(?:' + DOT + r'exe)?' + SPP + r'(?:-[a-z]' + SPP + r'\d+' + SPP + r'){0,3}(?:\d{1,3}\.){3}\d{1,3}',
  WB + r'ping(?:' + DOT + r'exe)?' + SPP + r'-[nc]' + SPP + r'\d',
  SL + r'(?:bin|sbin|usr' + SL + r'(?:local' + SL + r')?s?bin)' + SL + r'(?:sh|bash|dash|zsh|ksh|csh|busybox|nc|ncat|netcat|id|cat|ls|wget|curl|perl|python\d?|php|ruby|uname|whoami|echo|ping|chmod|rm|sleep|telnet|env)' + WE,
  WB + r'cmd(?:' + DOT + r'exe)?' + SPP + r'/[ck]' + SP1, WB + r'cmd' + DOT + r'exe', WB + r'powershell(?:' + DOT + r'exe)?' + r'(?:' + SPP + r'-|' + SPP + r'[a-z]{2,}-[a-z]|' + SPP + r'\(|' + SPP + r'iex)', WB + r'command' + DOT + r'com' + WE,
  LP + SPS + RP + SPS + LB + SPS + r'(?:' + COLON + SPS + ')?' + SEMI + SPS + RB + SPS + SEMI,
  r'(?:' + SEMI + r'|' + BT + r')' + SPS + CMD_SOLO + SPS + alt(SEMI, PIPE, BT),
  r'=' + SPS + CMD_SOLO + SPS + alt(SEMI, PIPE) + alt(r'$', r'&', SP1),
  # mail commands after a line break (SMTP, POP3, IMAP injection into a mail form)
  r'(?:%0a|%0d)' + alt(r'(?:helo|ehlo)' + SPP + r'[a-z0-9-]{1,60}\.[a-z]', r'(?:mail' + SPP + r'from|rcpt' + SPP + r'to)' + SPS + COLON + SPS + r'(?:' + LT + r'|[a-z0-9._+-]{1,64}(?:@|%40))',
                          r'(?:retr|dele)' + SPP + r'\d{1,6}', r'top' + SPP + r'\d{1,6}' + SPP + r'\d{1,6}', r'list' + SPP + r'\d{1,6}' + alt(NL, r'&', r'(?=\s)', r'$'),
                          r'apop' + SPP + r'[a-z0-9._-]{1,40}' + SPP + r'[0-9a-f]{32}', r'auth' + SPP + r'(?:plain|login|cram-md5|[a-z0-9._-]{1,40}' + SPP + r'[a-z0-9+/]{8,}={0,2})' + WE,
                          r'[a-z]\d{2,4}' + SPP + r'(?:login|authenticate|select|examine|create|delete|rename|subscribe|lsub|status|append|expunge|fetch|store|copy|uid|capability|logout|search' + SPP + r'(?:flagged|unseen|seen|all|since|before|new|deleted|answered|unanswered))' + WE),
  # ANSI-C quoted escapes ($'\x63at', $'\143at')
  DOL + Q + r'(?:\\|' + E('5c') + r')(?:x[0-9a-f]{2}|[0-7]{3})',
  # short commands, only as the whole rest of a value: ;who, %0aps, &&w
  alt(SEMI, BT, AMP + AMP, DOL + LP, NL) + r'(?:who|w|ps|htop|ver)' + alt(SPS + alt(SEMI, PIPE, BT, RP, r'%00'), r'&', r'(?=\s)', r'$'),
  # brace expansion that runs its words ({,ip,a}, {id,}, {l,-lh}s), letters maybe escaped,
  # and a tilde expansion as the whole value (~+, ~-1, ~0)
  r'(?:\{|%7b)' + alt(r'(?:,|%2c)' + LETTER + r'{1,20}(?:(?:,|%2c)[^&\s]{0,40}?)?(?:\}|%7d)', LETTER + r'{1,20}(?:,|%2c)(?:\}|%7d|-|%2d)'),
  r'=(?:~|%7e)(?:[+-]|%2b|%2d)?\d{0,2}(?=&|\s|$)',
  BT + SPS + r'(?:' + CMD_SOLO + r'|true|false|sleep' + SPP + r'\d+|ping' + SPP + r'[^`]{1,40})' + SPS + BT,
  DOL + LP + SPS + CMD_ARG + alt(SP1, RP), BT + SPS + CMD_ARG + alt(SP1, BT) + r'[^`&]{0,60}?' + BT,
  DOL + r'(?:\{ifs\}|ifs' + DOL + r'\d|ifs' + WE + ')',
  LB + r'(?:cat|ls|id|wget|curl|nc|ncat|bash|zsh|sh|echo|ping|uname|whoami|python[23]?|perl|php|ruby|base64|busybox|ifconfig|ipconfig|netstat|nslookup|chmod|powershell|socat|telnet)' + COMMA + alt('-', '%2d', SL, '~', DOL, ANYQ, r'https?' + COLON, r'\d{1,3}\.\d', r'[a-z0-9+/]{2,60}={1,2}' + alt(COMMA, RB)),
  r'(?:\{|%7b)(?:,|%2c)(?:' + DOL + r')?(?:' + ANYQ + r')?(?:whoami|id|ls|uname|ifconfig|ipconfig|ip|pwd|hostname|netstat|cat|wget|curl|nc|bash|sh|echo|ping|cd|python[23]?|perl|php|busybox|base64|chmod|rm|env|ps|tftp)' + WE + r'(?:' + ANYQ + r')?' + alt(COMMA, RB),
  CSEP + SPSB + SL + r'(?:[a-z]{0,3}' + QM + r'){1,4}[a-z]{0,3}' + SL + r'(?:[a-z]|' + QM + r'){1,6}',
  WB + r'cd' + SPP + SL + r'(?:tmp|var' + SL + 'tmp|dev' + SL + r'shm|var' + SL + 'run)',
  WB + r'(?:wget|curl|tftp|fetch)' + SPP + r'(?:-[a-z-]+' + SPP + r'){0,4}(?:https?|ftp)' + COLON + SL + SL,
  WB + r'chmod' + SPP + r'(?:\+?x|[0-7]{3,4}|u\+x|a\+x)' + SPP + alt(SL, r'\.', r'[a-z0-9_-]{1,30}' + alt(SEMI, PIPE, r'$')), WB + r'rm' + SPP + r'-r?f' + SPP + alt(SL, r'~', STAR, r'\.'),
  WB + r'nc' + SPP + r'(?:-[a-z]{1,3}' + SPP + r'){0,4}(?:-e|\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}' + SPP + r'\d)',
  SL + r'dev' + SL + r'(?:tcp|udp)' + SL,
  LT + SPS + BANG + r'--' + SPS + r'(?:' + HASH + r')' + SPS + r'(?:exec|include|echo|printenv|config|fsize|flastmod)' + WE,
  WB + r'(?:system|exec|shell_exec|passthru|popen|proc_open|pcntl_exec|assert|create_function|call_user_func(?:_array)?|file_put_contents|base64_decode|gzinflate|gzuncompress|phpinfo|highlight_file|show_source)' + SPS + LP + SPS + alt(ANYQ, DOL, BT, RP, r'(?:chr|str_rot13|base64_decode|gzinflate|\$_)', r'(?:' + CMD_SOLO + r'|cat|wget|curl|echo|ping|bash|sh)' + WE),
  r'(?<![a-z_.])eval' + SPS + LP,
  LT + r'(?:\?|' + QM + r')(?:php|' + EQ + r'|' + SP1 + r')',
  DOL + r'_(?:get|post|request|cookie|server|files|env)' + SPS + r'(?:\[|%5b)',
  r'__import__' + SPS + LP, WB + r'os' + DOT + r'(?:system|popen|exec[a-z]{0,2}|spawn[a-z]{0,3})' + SPS + LP, WB + r'subprocess' + DOT, r'child_process', r'process' + DOT + r'(?:mainmodule|binding)', WB + r'require' + SPS + LP + SPS + ANYQ + r'(?:child_process|fs|net)',
  # a command that ends the value with a line break: =visudo%0a, =nohup who%0a,
  # =ansible all -m ping%0a (names that are also words only with an argument)
  r'=' + SPS + alt(r'(?:whoami|uname|ifconfig|ipconfig|netstat|nohup|strace|ltrace|visudo|sudo|cpulimit|flock|ssh-copy-id|ansible(?:-[a-z]{2,12})?|chef(?:-[a-z]{2,12})?|cscli|pipx|crontab|systemctl|busybox|wget|curl|ncat|bash|zsh|python[23]?(?:\.\d{1,2})?|perl|php|chmod|chown|shutdown|reboot|pkill|killall|printenv|useradd|nslookup|tasklist|systeminfo)' + WE,
                   r'(?:nc|sh|cat|kill|ping|vim?|nano|env|ls|id|rm|cp|mv|ruby|node)(?=%20|%09|\+| )') + r'(?:(?:%20|%09|\+| )++(?:[^&\s%+]|%(?!0[ad]|20|09)[0-9a-f]{2})++){0,6}+' + NL + r'(?=&|\s|$)',
  # PHP that builds a function name from pieces: 'sys'.'tem', ($y)(, "\x73y\x73tem"(
  ANYQ + r'[a-z_]{1,12}' + ANYQ + SPS + DOT + SPS + ANYQ + r'[a-z_]{1,12}' + ANYQ,
  LP + SPS + DOL + r'[a-z_][a-z0-9_]{0,30}' + SPS + RP + SPS + LP,
  ANYQ + r'[a-z_]{0,10}(?:(?:\\|%5c)(?:x[0-9a-f]{2}|[0-7]{3})[a-z_]{0,10}){1,10}' + ANYQ + SPS + LP,
  # any PHP superglobal-like name with a subscript, letters maybe escaped: $_%53erver[,
  # $globals['x']; a variable variable or one with blanks before its brace: ${$a}, $ {a}
  DOL + r'(?:_(?:[a-z]|%[4-7][0-9a-f]){3,8}|globals)' + SPS + r'(?:\[|%5b)',
  DOL + alt(SPP + LB, LB + SPS + DOL + r'[a-z_]'),
  # a pipe into a shell at the end (| rev | sh)
  PIPE + SPS + r'(?:ba|z|k|da)?sh(?=&|\s|$)',
  # a bare command as a parameter value
  r'(?:[?&]|^)(?!(?:q|s|k|wd|kw|query|search|keywords?|term|text|tags?|title|body|comment|message)' + EQ + r')[^=&\s]{1,40}' + EQ + SPS + alt(r'whoami|ifconfig|ipconfig|systeminfo|sysinfo|netstat|tasklist|lastlog|getmac|lsb_release|printenv', r'uname' + SPP + r'-[a-z]{1,4}', r'net' + SPP + r'(?:view|user|users|localgroup|share|config|accounts|session|use|start)', r'netsh' + SPP + r'[a-z]{3,20}', r'ls' + SPP + r'-[a-z]{1,6}', r'(?:cat|type|more|head|tail)' + SPP + r'(?:' + SL + r'|' + PCT + r')[a-z]', r'ps' + SPP + r'-?(?:aux|ef)', r'id' + SPS + alt(SEMI, PIPE)) + r'(?:' + SPP + r'(?:' + SL + r'|-)[a-z0-9._/-]{0,60})?(?=&|\s|$|' + SEMI + r'|' + PIPE + r')',
  # Windows: environment variables, registry paths, FOR and IF (the command interpreter's
  # variable is written with its p as a class, which matches the same)
  PCT + r'(?:systemroot|windir|coms[p]ec|systemdrive|programfiles|programdata|appdata|localappdata|userprofile|allusersprofile|homedrive|homepath|computername|public|temp|tmp)' + PCT,
  WB + r'(?:hklm|hkcu|hkcr|hkey_local_machine|hkey_current_user|hkey_classes_root|hkey_users|hkey_current_config)(?:\\\\|%5c|%255c|:)',
  WB + r'reg(?:' + DOT + r'exe)?' + SPP + r'(?:add|query|delete|export|import|save|load)' + SPP + alt(DQ, r'hk', r'\\\\'),
  WB + r'for' + SPP + r'(?:(?:/|%2f)[dflr]' + SPP + r'){0,3}+[^&]{0,80}?' + PCT + r'{1,2}[a-z~_\[0-9]{1,20}' + SPP + r'in' + SPP + r'(?:' + LP + r')[^&]{0,200}?' + RP + SPS + r'do' + WE,
  WB + r'if' + SPP + r'(?:(?:/|%2f)i' + SPP + r')?(?:not' + SPP + r')?' + alt(r'exist' + SPP + r'[^&\s]{1,60}' + SPP + r'[a-z(%]', r'defined' + SPP + r'[a-z_%]', r'errorlevel' + SPP + r'\d', r'[^&]{1,60}?' + SP1 + r'(?:equ|neq|lss|leq|gtr|geq)' + SPP, r'[^&\s]{0,40}' + PCT + r'[a-z0-9_~]{1,20}' + PCT + r'[^&\s]{0,20}(?:==|%3d%3d)', r'[^&\s]{1,40}(?:==|%3d%3d)[^&\s]{1,40}' + SPP + r'[a-z(]'),
  # PowerShell and shell odds: invoke-webrequest, sh -c, process substitution, here strings
  WB + r'(?:invoke-(?:webrequest|expression|restmethod|wmimethod|command|mimikatz|shellcode)|start-process|new-object' + SPP + r'(?:-comobject|system' + DOT + r'net|net' + DOT + r'webclient))' + WE,
  WB + r'(?:sh|bash|zsh|dash|ksh|csh|busybox' + SPP + r'sh|busybox)(?:' + DOL + r'[a-z0-9_]{1,10})?' + SPP + r'-c' + SPP + alt(ANYQ, r'[a-z/$]'),
  LT + alt(LP + SPS + CMD_ARG + SP1, LT + LT), GT + LP + SPS + CMD_ARG + SP1,
  WB + r'alias' + SPP + r'(?:-[a-z]{1,6}' + SPP + r')?[^&\s=]{1,30}' + EQ,
  # glob and quoting tricks in paths and words: /etc/pas[s]wd, c$!at, /bin/ca?+/et*/
  SL + alt(r'[a-z]{0,10}(?:\[|%5b)(?![0-9]{1,6}(?:\]|%5d))[!^a-z0-9/%-]{1,16}?(?:\]|%5d)[a-z]{0,10}' + alt(SL, SP1, r'$', r'&'),
           r'[a-z]{1,8}' + STAR + r'[a-z*]{0,6}' + SL, r'[a-z]{1,8}' + alt(r'\?', '%3f') + r'(?:\+|%20)' + SL),
  r'[a-z]' + DOL + alt(BANG, r'\?', '%3f', STAR, AT, DOL) + r'[a-z]',
  # a command of any name with a flag after a separator: ;cpulimit -l, |rmt --version;
  # or a command that needs no flag, as the rest of the value or before one: ;top, |htop,
  # ;at 2:00 "echo
  # the named ones behind an escaped ampersand too (%26bcdboot /r), but not words that a
  # name or a search puts after one (black%26top)
  alt(alt(SEMI, PIPE, AMP + AMP, BT, DOL + LP, NL, r'\\[nr]') + SPSB + alt(
      r'(?:' + ANYQ + r')?[a-z][a-z0-9_.-]{1,24}(?:' + ANYQ + r')?' + SPP + r'-{1,2}[a-z]',
      r'(?:ssh-copy-id|rmt-[a-z]{2,8})' + WE,
      r'(?:top|htop|' + FLAGLESS + r'|at' + SPP + r'\d{1,2}' + COLON + r'\d\d)' + alt(SPS + alt(SEMI, PIPE, BT, RP, r'%00', ANYQ), r'&', r'(?=\s)', r'$', SPP + alt(r'/[a-z]', LT, GT))),
      E('26') + SPSB + r'(?:' + FLAGLESS + r')' + alt(SPS + alt(SEMI, PIPE, BT, r'%00', ANYQ), r'&', r'(?=\s)', r'$', SPS + alt(SL + r'[a-z]', LT, GT))),
  alt(SEMI, PIPE, AMP + AMP, NL) + SPSB + DOL + r'[a-z0-9_]{1,10}' + SPP + CMD_ARG + WE,
  WB + r'time' + alt(SEMI, SPP + r'(?:curl|wget|ifconfig|whoami|who|sh|bash|nc|python[23]?|perl|id|cat|ls|uname|ping)' + WE),
  r'[a-z](?:' + Q + Q + r'|' + DQ + DQ + r')[a-z]{1,10}' + SPP + r'[a-z-]',
  DOL + LB + r'?(?:shell|0|bash)' + RB + r'?' + SPP + r'-c' + SPP,
  WB + r'(?:vim?|ex|view|ed|less|more|man)' + SPP + r'[^&]{0,60}?(?:\\\\|:|\+)(?:' + BANG + r')[a-z]',
  WB + r'cd' + SPP + SL + SPS + alt(SEMI, AMP + AMP, PIPE), DOL + LP + SPS + r'[a-z]{2,10}' + DOL + LP,
  # PHP: variable functions and quoted function names called
  DOL + r'[a-z_][a-z0-9_]{0,30}(?:(?:\[|%5b|\{|%7b)[^&\s]{0,12}?(?:\]|%5d|\}|%7d)){0,4}' + SPS + r'(?:(?:/|%2f)(?:\*|%2a)[^&]{0,20}?(?:\*|%2a)(?:/|%2f))?' + SPS + LP,
  ANYQ + r'(?:system|exec|shell_exec|passthru|popen|proc_open|assert|eval|phpinfo|call_user_func)' + ANYQ + SPS + LP,
  # PHP: a variable variable called (${'a'}(1), ${@$b}(2)), a command function in
  # brackets called ([system][0](ls), (['system'])[0]('uname'))
  DOL + SPS + LB + r'[^&\s]{1,24}?' + RB + LP,
  r'(?:\[|%5b)' + SPS + r'(?:' + ANYQ + r')?(?:system|passthru|shell_exec|exec|popen|proc_open|pcntl_exec|assert)(?:' + ANYQ + r')?' + SPS + r'(?:\]|%5d)[^&=\s]{0,40}?' + LP,
  WB + r'(?:include|require)' + SPS + LP + SPS + ANYQ + r'(?:https?|ftps?|php|data|expect|zip|phar)' + COLON + SL + SL,
  WB + r'(?:get_defined_vars|curl_init|curl_exec|fsockopen|pfsockopen|stream_socket_client|ini_set|putenv|unserialize|preg_replace|array_map|array_filter|array_walk|array_reduce|usort|uasort|uksort|iterator_apply|register_shutdown_function|ob_start|phpinfo|print_r|var_dump|var_export|scandir|assert_options|base64_decode|file_get_contents|readfile|fopen|fwrite|move_uploaded_file|include_once|require_once|str_rot13|strrev|gzdecode|hex2bin|posix_getpwuid|posix_setuid|symlink|dl|mail)' + SPS + LP,
  # PHP serialised objects
  WB + r'[oc]' + COLON + r'\d{1,3}' + COLON + DQ + r'[a-z_\\][a-z0-9_\\]{0,60}' + DQ + COLON + r'\d{1,3}' + COLON + LB,
  r'invokefunction', r'think' + r'(?:\\\\|%5c|%255c|\\|/|%2f)' + r'app' , r'call_user_func_array',
  # a command name split by quotes, backslashes or empty expansions: 'wh'oami, c\at, c${u}at
  WB + alt(*[f for w in OBF_CMDS for f in shell_split(w)]) + '(?:' + SHINS + ')?+' + WE,
  # a backslash before a command name (\ls), brace expansion ({,whoami}, {cat,/etc/passwd})
  alt(SEMI, PIPE, BT, AMP + AMP, E('26'), DOL + LP, r'=', E('3d')) + r'(?:\\|' + E('5c') + r')(?:' + CMD_SOLO + r'|cat|wget|curl|bash|sh|nc|python[23]?|perl|php|echo|ping|uname)' + alt(SP1, CSEP, r'$', r'&', SL),
  # glob-written system folders: /???/b??h, /e?c/p?ss??, /b*/c?t
  r'(?:/|%2f)(?=[a-z]{0,3}(?:\?|%3f|\*|%2a))' + alt(alt(*sorted({g for d in ['bin', 'etc', 'usr', 'dev', 'tmp', 'var', 'sbin', 'proc'] for g in globbed(d)})) + r'(?:/|%2f)' + alt(r'[a-z0-9]{0,8}(?:\?|%3f|\*|%2a|\[|%5b)', r'(?:passwd|shadow|hosts|sh|bash|nc|cat|id|ls|wget|curl|python3?|perl)' + WE),
                   r'(?:b|e|u|d|t|s)' + alt(r'\*', '%2a') + r'(?:/|%2f)' + r'[a-z0-9]{0,8}(?:\?|%3f|\*|%2a)'),
  # a shell function definition, as Shellshock and fork bombs send it: () {; a PHP command
  # function called through brackets: (system)(ls), ("system")("id")
  LP + SPS + alt(RP + SPS + LB, r'(?:' + ANYQ + r')?(?:system|passthru|shell_exec|exec|popen|proc_open)' + SPS + r'(?:' + ANYQ + r')?' + SPS + RP + SPS + LP),
))

JAVA_GADGETS = ['processbuilder', 'getruntime', 'runtime', 'java.lang.runtime', 'clonetransformer', 'forclosure',
                'instantiatefactory', 'instantiatetransformer', 'invokertransformer',
                'prototypeclonefactory', 'prototypeserializationfactory', 'whileclosure',
                'chainedtransformer', 'constanttransformer', 'templatesimpl', 'lazymap']

# ---------------- slot 5: Java, Struts/OGNL, JNDI, expression and template injection (compact)
slot5 = top(*joined([WB, SL, DOL, LT],
  DOL + LB + r'[^}\s]{0,80}?' + alt(r'jndi', DOL + LB, r'::-', r'lower' + COLON, r'upper' + COLON, r'env' + COLON, r'sys' + COLON, r'date' + COLON, r'java' + COLON, r'base64' + COLON, r'main' + COLON, r'ctx' + COLON, r'k8s' + COLON, r'docker' + COLON, r'bundle' + COLON, r'spring' + COLON, r'web' + COLON, r'log4j' + COLON),
  r'jndi' + SPS + COLON + SPS + r'(?:ldaps?|rmi|dns|iiop|corba|nds|nis|https?)' + WE,
  r'j' + r'[^a-z\s&]{0,40}?' + r'n' + r'[^a-z\s&]{0,40}?' + r'd' + r'[^a-z\s&]{0,40}?' + r'i' + r'[^a-z\s&]{0,40}?' + COLON + r'[^\s&]{0,40}?(?:ldap|rmi|dns|iiop)',
  HASH + r'(?:_memberaccess|context|request|response|attr|parameters|session|application|_|f|a|cmd|ognl|dm|ct|os|proc|p|res|iswin|cmds|req|out|w)' + alt(EQ, r'\[', r'%5b', DOT, r'\.', LP, COMMA, RP, r'\['),
  r'_memberaccess', r'ognlcontext', r'@ognl', WB + r'ognl' + DOT + r'(?:ognl|member)', r'xwork' + DOT + r'methodaccessor', r'opensymphony' + DOT + 'xwork', r'allowstaticmethodaccess', r'excluded(?:classes|packagenames|packagenamepatterns)',
  r'getruntime' + SPS + LP, r'processbuilder', r'java' + DOT + r'lang' + DOT + r'(?:runtime|processbuilder|system|class|thread|reflect|classloader)',
  WB + r'java' + DOT + r'io' + DOT + r'[a-z]', WB + r'java' + DOT + r'lang' + DOT + r'(?:runtime|process|string|object|integer|stringbuilder|thread|class|system|reflect|unixprocess)' + WE,
  WB + r'(?:com' + DOT + r'sun' + DOT + r'(?:org|jndi|rowset|net|xml)|sun' + DOT + r'(?:misc|reflect|rmi)|org' + DOT + r'apache' + DOT + r'(?:commons|xalan|bcel|tomcat' + DOT + r'dbcp)|org' + DOT + r'omg' + DOT + r'corba|org' + DOT + r'codehaus' + DOT + r'groovy)' + WE,
  WB + r'java' + DOT + r'(?:[a-z]{1,20}' + DOT + r')?runtime' + WE,
  alt(*sorted({f for g in JAVA_GADGETS for f in b64_fragments(g, 10)})),
  WB + r'(?:instantiatefactory|prototypeclonefactory|prototypeserializationfactory|whileclosure|forclosure)' + WE,
  WB + r'(?:runtime' + DOT + r'(?:clonetransformer|forclosure|instantiatetransformer|invokertransformer|chainedtransformer|constanttransformer)|(?:invoker|chained|constant|instantiate|clone)transformer|lazymap|templatesimpl|annotationinvocationhandler|badattributevalueexpexception|jdbcrowsetimpl)' + WE,
  r'javax' + DOT + r'script', r'scriptenginemanager', AT + r'java' + DOT, r'java' + DOT + r'io' + DOT + r'(?:file|inputstreamreader|bufferedreader|ioutils)', r'java' + DOT + r'(?:net|util' + DOT + 'scanner)' + DOT,
  WB + r'class' + alt(DOT, r'\[', '%5b') + r'(?:' + ANYQ + r')?(?:module' + DOT + r')?classloader', r'classloader' + DOT + r'(?:resources|urls|parent)', DOT + r'getclass' + SPS + LP, WB + r'forname' + SPS + LP, r'getmethod' + SPS + LP, r'newinstance' + SPS + LP, r'getdeclared(?:constructor|method|field)', 
  WB + r't' + SPS + LP + SPS + r'java' + DOT, WB + r'new' + SPP + r'java' + DOT, r'(?:redirect|redirectaction|action)' + COLON + SPS + alt(DOL, PCT) + LB,
  PCT + r'(?:\{|%7b)' + SPS + alt(HASH, LP, AT, ANYQ, r'\d', r'java', r'new' + SP1),
  r'method' + COLON + HASH,
  DOL + LB + SPS + alt(r'\d+' + SPS + r'(?:' + STAR + r'|\+|%2b|-|/)' + SPS + r'\d+' + SPS + RB, r'(?:pagecontext|applicationscope|sessionscope|requestscope|initparam|facescontext)', r'(?:request|session|application|context|self)' + DOT, r't' + SPS + LP, r'new' + SP1, r'\d+' + SPS + RB + SPS + r'\d', r'@', r'class' + DOT),
  AT + LP + SPS + r'\d+(?:' + SPS + alt(STAR, '-', '/') + r'|\+|%2b)' + SPS + r'\d+' + SPS + RP,
  LB + LB + SPS + alt(r'(?:' + EQ + SPS + r')?(?:' + ANYQ + r')?\d+(?:' + ANYQ + r')?(?:' + SPS + alt(STAR, '-', '/') + r'|\+|%2b)' + SPS + r'(?:' + ANYQ + r')?\d+', r'(?:config|self|request|settings|lipsum|cycler|joiner|namespace|url_for|get_flashed_messages|_self|dump|app|constructor|range|g|session)' + WE, ANYQ + ANYQ, r'\[\]', r'%5b%5d', r'[^}]{0,80}?__'),
  r'(?:' + DOT + r'|' + ANYQ + r'|' + RP + r'|\]|%5d|' + LB + r')' + SPS + r'__(?:class|mro|subclasses|globals|builtins|init|import|base|bases|dict|getattribute|reduce|code|func_globals)__',
  LT + PCT + r'(?:=|' + EQ + r')' + r'[^&]{0,60}?' + PCT + GT,
  r'freemarker' + DOT + r'template' + DOT + r'utility', r'\?new' + SPS + LP, QM + r'new' + SPS + LP + SPS + RP,
  LT + HASH + r'(?:assign|import|include)', HASH + r'set' + SPS + LP + SPS + DOL, DOL + r'class' + DOT + r'inspect', r'registerundefinedfiltercallback', r'getfilter' + SPS + LP,
  r'__' + DOL + LB, STAR + LB + SPS + r't' + SPS + LP, HASH + LB + SPS + r'(?:t' + SPS + LP + r'|\d+' + SPS + STAR + r')',
  LB + r'(?:php|system' + LP + r'|exec' + LP + r'|passthru' + LP + r'|/?literal)' + alt(RB, LP),
  r'wls-wsat' + SL, SL + r'_async' + SL, r'bea_wls_(?:deployment_internal|internal|management_internal)', r'uddiexplorer', SL + r'ws_utc' + SL, r'com' + DOT + r'tangosol', r'com' + DOT + r'bea' + DOT, r'weblogic' + DOT + r'(?:work|servlet|management|xml|jms|rjvm)', r'consolejndi' + DOT + 'portal', r'console' + SL + r'(?:css|images|login|framework)' + SL + r'[^?\s]{0,40}?' + DOT + DOT,
  r'console' + DOT + 'portal' + QM + r'[^\s]{0,80}?(?:handle|_nfpb|_pagelabel)' + EQ,
  r'ro0ab', r'aced0005', r'java' + DOT + 'rmi', r'rmi' + COLON + SL + SL, r'ldaps?' + COLON + SL + SL + r'[^\s&]{0,80}?(?:exploit|obj|basic|command|deserial|tomcatbypass|x\b|a\b|\d{1,5}' + SL + r'[a-z])',
  SL + r'(?:jmx-console|web-console|admin-console|invoker' + SL + r'(?:jmxinvokerservlet|ejbinvokerservlet|readonly)|jbossws|jolokia|h2-console|manager' + SL + r'(?:html|text|status|jmxproxy)|host-manager)' + WE,
  SL + r'actuator' + SL + r'(?:env|heapdump|gateway|jolokia|mappings|configprops|threaddump|trace|httptrace|logfile|shutdown|restart|refresh|loggers)',
  SL + r'struts2?-(?:showcase|rest-showcase|blank)', r'struts' + DOT + r'(?:devmode|token)', r'debug' + EQ + r'(?:command|browser|console)',
  r'^(?:put|move|copy)' + SPP + r'[^\s?]{0,200}' + DOT + r'(?:jsp|jspx|jspf|war)(?:/|' + SL + r'|%20|::\$data|\s)',
  # (added here when slot 4 was at PCRE2's compiled-size limit)
  # PHP: a function call with blanks, tabs or comments before its parenthesis, as PHP
  # accepts them: exec\t(, file_exists #c\n(, range /*x*/(
  WB + r'(?:exec|system|passthru|popen|assert|fileowner|filegroup|fileperms|unpack|serialize|gzinflate|gzencode|gzuncompress|substr|fread|fgets|fputs|fputcsv|phpversion|getenv|v?s?printf|chr|unlink|rmdir|tempnam|tmpfile|escapeshell(?:cmd|arg)|glob|opendir|readdir)' + PHPODD + LP,
  WB + r'(?:shell_exec|proc_open|pcntl_exec|file_exists|is_readable|is_writable|strip_tags|base64_encode|array_diff|array_walk|call_user_func|create_function|highlight_file|show_source|parse_ini_file|php_uname|ini_get|set_time_limit|error_reporting|ldap_get_entries|ldap_search|tidy_parse_string|sodium_[a-z0-9_]{3,60}|pg_[a-z_]{3,40}|mysqli?_query|stream_get_contents|debug_zval_dump|get_defined_functions|func_get_args|convert_uudecode|html_entity_decode|htmlspecialchars_decode)' + PHPBL + LP,
  WB + r'[a-z_][a-z0-9_]{1,40}(?:' + PHPSPACE + PHPTAB + r')++' + LP,
))

# ---------------- slot 6: web shells, scanner and admin probes (compact)
PATH = r'^[a-z]{3,10}\s+(?:https?://[^/\s]{1,100})?[^?\s]{0,200}?'
ARCH = r'(?:zip|rar|7z|tar|tar' + DOT + r'(?:gz|bz2|xz)|tgz|tbz2?|gz|bz2|xz|sql|sql' + DOT + r'(?:gz|zip|bz2|tar)|bak|war|jar|old|backup|dump|mdb|sqlite|db)'
PATH_ARCH = r'(?:\.|%2e)(?:zip|rar|7z|tar|tar\.gz|tar\.bz2|tar\.xz|tgz|tbz|tbz2|gz|bz2|xz|sql|sql\.gz|sql\.zip|sql\.bz2|sql\.tar|bak|war|jar|old|backup|dump|mdb|sqlite|db)'
ROOTNAMES = r'(?:www|wwwroot|web|website|site|backup|backups|bak|old|new|db|database|dump|data|sql|mysql|htdocs|html|public_html|root|admin|ftp|temp|tmp|test|upload|uploads|src|source|code|app|archive|home|release|dist|[0-9]{1,8}|(?:[a-z0-9-]{1,40}\.){1,3}(?:com|net|org|cn|io|co|info|biz|gov|edu|de|uk|ru|jp|xyz|top|me|cc|tv|us|fr|it|nl|in|br|es))'
slot6 = top(*under(PATH,
  PATH + r'/\.(?:git|svn|hg|bzr|cvs)' + alt(SL, r'ignore', r'attributes', r'modules', r'config', SP1, QM, r'$', r'&'),
  PATH + r'/\.(?:env|ds_store|idea|vscode|htaccess|htpasswd|ssh|aws|docker|dockerenv|npmrc|bash_history|bashrc|profile|mysql_history|psql_history|git-credentials|gitconfig|travis\.yml|gitlab-ci\.yml|boto|pgpass|netrc|s3cfg|sftp-config\.json|ftpconfig|remote-sync\.json|editorconfig|php_cs\.cache|user\.ini|history|viminfo|kube|terraform|circleci|claude|cursor|cursorignore|cursorrules|aiignore|windsurfrules|clinerules|continue|aider|roo|zed|kiro|windsurf|rovodev|codex|opencode|a0proj|fabric|n8n|gemini|copilot|env\.(?=[a-z]{2}))' + alt(SL, DOT, r'~', SP1, QM, r'$', r'&', r'\.'),
  PATH + r'/(?:cvs/(?:root|entries)|\.svn/(?:entries|wc\.db))',
  PATH + r'/web\.config' + WE, PATH + r'/wp-config\.php', PATH + r'/(?:configuration|localsettings|config' + DOT + r'inc|settings' + DOT + r'inc|database' + DOT + r'inc|db' + DOT + r'inc|conn' + DOT + r'inc)' + DOT + r'php',
  PATH + r'\.(?:php|php3|php4|php5|php7|asp|aspx|jsp|inc|conf|config|cfg|ini|yml|yaml|xml|json|properties|env|py|rb|cs|java|sql|db|mdb|log|txt|sh|html|htm|js|cgi|pl)(?:' + DOT + r'(?:bak|old|orig|save|swp|swo|tmp|backup|copy|bk|dist|1|2|~)|~)' + alt(SP1, QM, r'$', r'&'),
  r'^[a-z]{3,10}' + SPP + r'(?:https?://[^/\s]{1,100})?' + SL + ROOTNAMES + PATH_ARCH + alt(SP1, QM, r'$'),
  PATH + r'/(?:backup|backups|wwwroot|dump|database|db_backup|sitebackup|site_backup|www_backup|web_backup|htdocs|public_html)' + DOT + ARCH + alt(SP1, QM, r'$'),
  PATH + r'\.(?:sql|sql' + DOT + r'(?:gz|zip|bz2|tar)|mdb|bak|swp|sqlite3?|dump)' + alt(SP1, QM, r'$'),
  PATH + r'/phpmyadmin[a-z0-9._-]{0,20}' + alt(SL, SP1, QM, r'$', DOT + 'php'),
  PATH + r'/(?:pma|myadmin|mysqladmin|phpmyadmin2|sqladmin|mysql-admin|dbadmin|websql|phppgadmin|pgadmin|sqlbuddy|sqlweb|mysqlmanager|phpminiadmin)' + alt(SL, SP1, QM, r'$', DOT + 'php'),
  PATH + r'/adminer(?:-[0-9.]{1,10})?(?:-[a-z]{2,10})?' + DOT + r'php',
  PATH + r'/console' + alt(SL + r'(?:login|css|images|console' + DOT + 'portal|j_security_check|dashboard)', SL + r'?' + alt(SP1, QM, r'$')),
  PATH + r'/(?:manager' + SL + r'(?:html|text|status|jmxproxy)|host-manager|jmx-console|web-console|admin-console|invoker' + SL + r'|jolokia|hudson|jenkins' + SL + r'script|solr' + SL + r'admin|axis2?' + SL + r'(?:axis2-admin|adminservice|services' + SL + r'(?:version|listservices))|druid' + SL + r'(?:index|login)|nacos' + SL + r'v1' + SL + r'auth|h2-console|_ignition' + SL + r'execute-solution|telescope' + SL + r'requests|server-status|server-info|phpinfo' + DOT + r'php|info' + DOT + r'php|test' + DOT + r'php|cgi-bin' + SL + r'(?:php|test-cgi|printenv|bash|sh)|vendor' + SL + r'phpunit|eval-stdin' + DOT + 'php|wp-file-manager' + SL + r'lib' + SL + r'php' + SL + r'connector|wp-conflg' + DOT + r'php|wp_filemanager' + DOT + r'php|fckeditor' + SL + r'editor' + SL + r'filemanager' + SL + r'(?:connectors|browser|upload)|\+cscoe\+' + SL + r'files' + SL + r'file_list|tmunblock' + DOT + r'cgi|boaform|hnap1|gponform|setup' + DOT + r'cgi|tmui' + SL + r'|mgmt' + SL + r'tm' + SL + r'|remote' + SL + r'login|wls-wsat|_async|uddiexplorer|bea_wls|ws_utc|actuator|wp-admin' + SL + r'(?:install|setup-config)' + DOT + r'php|elmah' + DOT + 'axd|trace' + DOT + r'axd|cgi-bin' + SL + r'luci|hedwig' + DOT + r'cgi|phpunit|xxl-job-admin|seeyon' + SL + r'htmlofficeservlet|ecp' + SL + r'default\.flt|owa' + SL + r'auth' + SL + r'x\.js|autodiscover' + SL + r'autodiscover' + DOT + r'json|mifs' + SL + r'|dana-na' + SL + r'|vpns' + SL + r'|global-protect' + SL + r'login|ui' + SL + r'vropspluginui|cgi-bin' + SL + r'(?:admin|config|status)' + DOT + r'cgi)',
  PATH + r'/(?:c99|c100|r57|r00t|b374k|indoxploit|filesman|phpspy|jspspy|aspxspy|webshell|shell|cmd|backdoor|spy|k8|xise|chopper|caidao|behinder|godzilla|antsword|tunnel|regeorg|neo-regeorg|tunna|sh3ll|hack|hacked|hacker|hax|priv8|bypass|symlink|sym|mini|up|upl|uploader|x|xx|xxx|a|aa|sh|muma|dama|xiaoma|yijuhua|diaosi|conn|lol|0x|404|leaf|marijuana|wp-beta|ups|inject|fox|madspot|mad|pwn|pwned|owned|r0ot|gecko|wsoshell|simple-backdoor|cmdasp|cmdjsp|jspshell|aspshell|phpshell)' + DOT + r'(?:php|php3|php4|php5|php7|phtml|jsp|jspx|asp|aspx|asa|cer|ashx|asmx|cfm|cgi|pl)' + alt(SP1, QM, r'$', SL, r'&'),
  PATH + r'/(?:wso|shell|cmd|alfa)[a-z0-9._]{0,8}' + DOT + r'(?:php|php3|php4|php5|php7|phtml|jsp|jspx|asp|aspx|asa|cer|ashx|asmx|cfm|cgi|pl)' + alt(SP1, QM, r'$', SL, r'&'),
  PATH + r'/[0-9]{1,4}(?:\.|%2e)(?:php|php3|php4|php5|php7|phtml|jsp|jspx|asp|aspx|asa|cer|ashx|asmx|cfm|cgi|pl)' + alt(SP1, QM, r'$', SL, r'&'),
  PATH + r'\.(?:asp|aspx|asa|cer|cdx|php\d?|jsp)' + alt(SEMI, r'%3b') + r'[^/?\s]{0,40}?' + DOT + r'(?:jpe?g|gif|png|txt|html?|bmp|ico)',
  PATH + r'/[a-z0-9_-]{1,40}' + DOT + r'(?:asp|asa|cer|cdx)' + SL + r'[^?\s]{1,60}?' + DOT + r'(?:jpe?g|gif|png|txt)',
  PATH + r'\.(?:jpe?g|gif|png|txt|ico|bmp)' + SL + r'[a-z0-9_-]{0,20}' + DOT + r'php' + alt(SP1, QM, r'$'),
  PATH + r'/(?:upload|uploads|uploadfile|uploadfiles|upfile|attachment|attachments|userfiles|user_uploads|wp-content/uploads|tmp|temp)/[^?\s]{0,100}?\.(?:php\d?|phtml|phar|jsp|jspx|asp|aspx|asa|cer|ashx|cgi)' + alt(SP1, QM, r'$', r'/'),
  PATH + r'/(?:\.well-known|wp-admin/(?:css|images|js|maint|network|user)|wp-includes/(?:css|images|fonts|id3|text|pomo|certificates|blocks|widgets|customize|assets)|aspnet_client)/[^?\s]{0,120}?\.(?:php\d?|phtml|phar|aspx|ashx|asmx|jsp|jspx|cer|asa)' + alt(SP1, QM, r'$', r'/'),
  PATH + r'/(?:alfa_data|alfacgiapi|alfa_shell|\.tmb|wso[0-9]{0,8}\.php|xleet|lufix|gel4y|moon\.php|marijuana|priv8|bypass\.php|indoxploit|xsec|0byte|tinyfilemanager|wp-filemanager|filemanager\.php|fm\.php|mini\.php|class-wp-page-[a-z0-9]{1,6}\.php|about\.php7)' + alt(SL, r'\.', SP1, QM, r'$'),
  PATH + r'/(?:docker-compose(?:\.[a-z]{1,12})?\.ya?ml|sftp-config\.json|appsettings(?:\.[a-z]{1,12})?\.json|parameters\.ya?ml|secrets?\.(?:json|ya?ml|txt)|credentials(?:\.json)?|id_[rd]sa|phpunit\.xml|local\.xml|settings\.local\.php|laravel\.log|debug\.log|error_log|wp-content/(?:errors?|debug|php_errors?)\.log|npm-debug\.log|\.env\.[a-z]{2,12}|config/database\.yml|app/etc/local\.xml|storage/logs/laravel\.log)' + alt(SP1, QM, r'$'),
  # web shells by name at any folder, with versions, spaces and suffixes
  PATH + r'/(?:c99|c100|r57|wso|b374k|r00t|indoxploit|alfa|webadmin|phpspy|jspspy|aspxspy|antsword|behinder|godzilla|k8|sh3ll|nstview|ctt_sh|zehir|phantasma|azrailphp|jsp-reverse|cmdjsp|cmdasp)[a-z0-9 ._()+%-]{0,30}?' + DOT + r'(?:php\d?|phtml|jsp|jspx|asp|aspx|asa|cer|ashx|cfm|pl|cgi)' + alt(SP1, QM, r'$', SL, r'&'),
  PATH + r'/[a-z0-9 ._()+%-]{0,40}?(?:shell|webshell|backdoor)[a-z0-9 ._()+%\[\]-]{0,50}?' + DOT + r'(?:jsp|jspx|asp|aspx|asa|cer|ashx|php\d?|phtml|cfm|pl|cgi)' + alt(SP1, QM, r'$', SL, r'&'),
  # names that web-shell kits give themselves, anywhere in the file name: phpspy2014, aspmuma,
  # bypass-waf-2015, php7.1_bypass, remview, icesword
  PATH + r'/[a-z0-9 ._()+%-]{0,40}?(?:(?:php|jsp|asp|aspx|cyber|net|arabic)spy|spy(?:\d|jsp|asp|php)|muma|webshell|websh|backdoor|remview|remoteview|icesword|antak|ntdaddy|elmaliseker|t00ls|safe(?:%20|_|-)?mode(?:%20|_|-)?(?:breaker|bypass|exploit)|bypass(?:%20|[-_ ])?(?:waf|all|safedog|403|disable|df)|(?:php|waf|safemode|\d)[-_.]?bypass|[-_]bypass' + DOT + r'php)[a-z0-9 ._()+%\[\]-]{0,60}?' + DOT + r'(?:php\d?|phtml|jsp|jspx|asp|aspx|asa|cer|ashx|cfm|pl|cgi)' + alt(SP1, QM, r'$', SL, r'&'),
  PATH + r'/(?:[a-z0-9]{1,12}[_-])?cmd[a-z0-9_.-]{0,12}?' + DOT + r'(?:aspx?|jsp|jspx|php\d?|ashx|asa|cer|cfm)' + alt(SP1, QM, r'$', SL, r'&'),
  r'autodiscover' + DOT + r'json' + QM + AT, r'/mapi/nspi', r'/ecp/[a-z0-9]{1,4}\.js',
  r'::\$data', PATH + r'\.(?:php\d?|phtml|jsp|aspx?)' + DOT + r'(?:jpe?g|gif|png)' + alt(SP1, QM, r'$'),
  r'[?&](?:cmd|exec|command|execute|shell|cmdline|run)' + EQ + SPS + r'(?:ls|dir|id|whoami|cat|uname|pwd|wget|curl|net' + SPP + r'user|echo|ipconfig|ifconfig|type|ping|cd|ps|netstat|systeminfo|tasklist|hostname|bash|sh|nc|powershell|cmd)' + alt(SP1, r'$', r'&', SEMI, PIPE, DQ, r'%00'),
  r'(?:sqlmap|nikto|nmap' + SPP + r'scripting|acunetix|netsparker|appscan|w3af|dirbuster|gobuster|wpscan|masscan|zgrab|nuclei' + SPP + r'-|havij|openvas|fuzz' + SPP + r'faster|ffuf|wfuzz|jaeles|whatweb|zmeu|morfeus|webinspect|bsqlbf|sqlninja|jbrofuzz|arachni|skipfish|commix|dotdotpwn|burpcollaborator|interact' + DOT + r'sh|oastify|dnslog' + DOT + r'cn|ceye' + DOT + r'io|\boast' + DOT + r'(?:pro|live|site|online|fun|me)|xsstrike|dalfox|metasploit|l9explore|l9tcpid|censysinspect|projectdiscovery)' + WE,
  r'\bbxss' + DOT + r'\w',
  # the Jenkins script console at the root only: a folder of that name elsewhere is content
  r'^[a-z]{3,10}\s+(?:https?://[^/\s]{1,100})?/script' + SL + r'?' + QM,
))

# ---------------- slot 7: wider SQL and XSS keywords (broad)
slot7 = top(*joined([WB, ANYQ],
  ANYQ + SPS + WB + r'(?:or|and|xor|having|union|order|group|select|like|rlike|regexp|div)' + r'(?=' + SP1 + r'|' + ANYQ + r'|\d|' + LP + r'|$)',
  ANYQ + SPS + r'(?:%2b|' + PIPE + PIPE + r'|--|' + HASH + r')',
  WB + r'(?:or|and|xor|not)' + SPP + r'[a-z0-9_' + "'" + r'"]{0,20}' + SPS + r'(?:' + EQ + r'|' + LT + r'|' + GT + r'|like' + WE + r')' + SPS + r'(?:' + ANYQ + r'|' + NUM + r'|' + LP + r')',
  WB + r'insert' + SPP + r'into' + SPP, WB + r'delete' + SPP + r'from' + SPP, WB + r'drop' + SPP + r'(?:table|database|schema|view|procedure|function|user)' + WE, WB + r'update' + SPP + r'[a-z0-9_.`]{1,40}' + SPP + r'set' + SPP + r'[a-z_]{1,30}' + SPS + EQ, WB + r'union' + SQPL + r'(?:all' + SQPL + r')?select' + WE, WB + r'(?:truncate|alter)' + SPP + r'table',
  WB + r'(?:exec|execute)' + SPP + r'[a-z_]{1,10}(?:_|\.)', WB + r'(?:xp|sp)_[a-z]{3,30}',
  WB + r'(?:ascii|substring|substr|mid|length|ord|hex|unhex|char|chr|concat|version|database|user|schema|count|cast|convert|nullif|coalesce|ifnull|isnull|md5|sha1|rand|floor|bin|conv|instr|locate|greatest|least|sleep|benchmark|if|iif|elt|make_set|field|json_extract|pg_sleep|current_user|session_user|system_user|suser_sname|db_name|object_name|col_name|host_name|len|datalength|quotename|replace|repeat|reverse|space|lpad|rpad|trim|soundex|unicode|nchar|varchar|row_count|found_rows|last_insert_id|uuid)' + SPS + LP + SPS + r'(?:\d|' + ANYQ + r'|select|' + AT + r'|0x|' + RP + r'|char|[a-z_]+' + SPS + LP + r')',
  r'(?:[=,\s+]|%20|%2c|%3d)0x[0-9a-f]{8,}', AT + AT + r'[a-z]{3,}', r'(?:\d|' + ANYQ + r'|' + RP + r')' + SPSB + r'(?:--|' + HASH + r'|/\*|;%00)',
  WB + r'(?:or|and)' + SPP + r'\d+' + SPS + r'(?:' + EQ + r'|' + LT + r'|' + GT + r'|' + BANG + EQ + r')' + SPS + r'\d+',
  WB + r'(?:order|group)' + SPP + r'by' + SPP + r'(?:\d+|[a-z_]{1,30}' + SPP + r'(?:asc|desc))' + SPS + alt('--', HASH, r'/\*', r'%00', SEMI),
  WB + r'(?:waitfor' + SPP + r'(?:delay|time)|sysdate' + SPS + LP + r'|rownum|limit' + SPP + r'\d+' + SPS + COMMA + SPS + r'\d+|offset' + SPP + r'\d+)' + WE,
  r'/\*!', r'/\*\*/', r'%2f\*\*%2f', r'%2f%2a%2a%2f',
  LT + SPS + r'/?(?!(?:b|i|u|p|br|hr|code|pre|em|strong|small|sub|sup|ul|ol|li|h[1-6]|blockquote|q|s|tt|kbd|span|del|ins|mark|cite)' + alt(SP1, GT, r'/') + r')[a-z!?][a-z0-9:_-]{0,20}' + alt(SP1, SL, GT, r'$', r'[^a-z0-9:_-]'),
  GT + SPS + LT, ANYQ + SPS + GT, r'\\u00[0-9a-f]{2}', r'\\x[0-9a-f]{2}',
  r'(?:(?<![a-z0-9_-])|(?<=%[0-9a-f]{2}))on[a-z]{3,30}' + SPS + EQ, WB + r'autofocus' + WE, 
  WB + r'(?:alert|prompt|confirm|eval|settimeout|setinterval|atob|btoa|unescape|escape|decodeuri|decodeuricomponent|fetch|xmlhttprequest|open|write|writeln|fromcharcode|execcommand|createelement|appendchild|insertadjacenthtml)' + SPS + LP,
  WB + r'(?:document|window|location|navigator|localstorage|sessionstorage|history)' + SPS + DOT + SPS + r'(?!(?:s?html?|php\d?|aspx?|jsp|cgi|pl|css|js|json|xml|txt|pdf|jpe?g|png|gif|svg|webp)(?:[?\s&;/]|%3f|$))[a-z]',
  WB + r'(?:src|href|style|action|background|dynsrc|lowsrc|poster|codebase|archive|classid|content)' + SPS + EQ + SPS + ANYQ + r'?' + SPS + r'(?:javascript|vbscript|data|livescript)',
  WB + r'url' + SPS + LP + SPS + ANYQ + r'?' + SPS + r'(?:javascript|data|vbscript)', WB + r'expression' + SPS + LP,
  r'%26%23', r'&(?:lt|gt|quot|apos|amp);[a-z<]',
  # a comparison of numbers or LIKE NULL as the whole value (=1=1, =1!=11, =42 like 42,
  # =like null), a double and a single quote run together as the value; LIKE between
  # parentheses, a PostgreSQL cast after a name (password::int), PHP's float that hangs
  # its parser; one alternative behind one look-ahead, which every position pays for
  alt(r'=' + alt(r'\d{1,10}' + alt(EQ, r'!=', r'%21%3d', LT + GT, SPP + r'like' + SPP) + r'\d{1,10}(?=&|\s|$)', r'like' + SPP + r'null' + WE,
                 r'(?:"|%22)(?:\'|%27)(?=&|\s|$)', r'(?:\'|%27)(?:"|%22)(?=&|\s|$)'),
      RP + SPS + r'like' + SPS + LP, r'(?:::(?<=[a-z_]::)|%3a%3a(?<=[a-z_]%3a%3a))(?:int|integer|bigint|text|varchar|numeric|regclass|bool)' + WE,
      r'2\.225073858507201\d?e-308'),
))

# ---------------- slot 8: wider traversal, command, probe and encoding tricks (broad)
slot8 = top(*joined([WB, DOT],
  DOT + DOT + SL, SL + DOT + DOT + alt(SL, r'$', SP1, QM, r'&', SEMI), DOT + DOT + SEMI,
  r'%(?:25){0,3}00', r'%c0%(?:ae|af|2e|2f|5c|bc|be|a7|a2|80|8a)', r'%c1%(?:9c|1c|af|8e|81|bf|pc)', r'%e0%80%(?:ae|af|bc|be)', r'%f0%80%80', r'%u00[0-9a-f]{2}', r'%u(?:2215|2216|2024|ff0e|ff0f|ff1c|ff1e|02c2|2044|2025)',
  r'%25(?:2[0-9a-f]|3[0-9a-f]|5[bcdf]|7[bcde]|0[0-9a-f]|1[0-9a-f]|c[01]|e0|u00|25)',
  r'(?:%(?:4[1-9a-f]|5[0-9a]|6[1-9a-f]|7[0-9a]|3[0-9])){2,}',
  alt(SEMI, BT, AMP + AMP, DOL + LP, NL) + SPSB + r'(?:' + CMD_SOLO + r'|' + CMD_ARG + r')' + WE,
  WB + r'(?:wget|curl|nc|ncat|netcat|ping|nslookup|powershell|perl|python[23]?|php|ruby|bash|sh|telnet|tftp|certutil|bitsadmin)' + SPP + r'(?:-[a-z]|https?' + COLON + r'|' + SL + r')',
  SL + r'(?:tmp|dev' + SL + r'(?:shm|null|tcp|udp)|bin|sbin|usr' + SL + r'bin)' + alt(SL, SEMI, PIPE, r'$'), WB + r'(?:useradd|mkfifo|busybox)' + WE, WB + r'xterm' + SPP + r'-display', DOL + r'ifs', PIPE + SPS + CMD_SOLO + alt(SPS + PIPE, r'$', r'&', SP1), ANYQ + SPS + r'(?:uname|whoami|ifconfig|ipconfig|netstat|systeminfo|tasklist|hostname)' + SPS + ANYQ, DOL + LP, DOL + LB, r'(?:%|%25)' + LB, LB + LB, r'\[\[',
  WB + r'getclass' + WE, DOT + r'exec' + SPS + LP, WB + r'(?:ldap|rmi|iiop|corba|dns)' + COLON + SL + SL,
  r'^(?:trace|track|debug|propfind|proppatch|mkcol|connect|copy|move|lock|unlock|search|pri|index)' + WE,
  r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + r'(?:https?|ftps?)' + COLON + SL + SL + r'(?:\d{1,3}' + DOT + r'){3}\d{1,3}', r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + SL + SL + r'[a-z0-9]', r'(?:' + EQ + SPS + r'|^' + SPSB + r')' + r'(?:https?|ftps?)' + COLON + SL + SL + r'[^&\s"]{0,120}?' + DOT + r'(?:txt|php\d?|asp|sh|pl|jsp|cgi|exe|py|dat)' + alt(QM, r'$', r'&', SP1),
  PATH + r'/\.(?!well-known)[a-z_][a-z0-9_-]{1,30}' + alt(SL, SP1, QM, r'$'),
  PATH + r'/(?:images?|img|static|assets|files|media|data|cache|backup|css|fonts)/[^?\s]{0,120}?\.(?:php\d?|phtml|phar|aspx|ashx|jsp|jspx|cgi|pl)' + alt(SP1, QM, r'$', r'/'),
  PATH + r'\.(?:bak|old|orig|swp|swo|save|tmp|temp|backup|copy|sql|mdb|db|sqlite|ini|cfg|inc|dist|pem|key|p12|pfx|jks|keystore|dump|tar|tgz|rar|war|ear|bat|ps1|vbs|env|yml|yaml|properties|config|htaccess|htpasswd|git|svn|ds_store|lock|cache)' + alt(SP1, QM, r'$'),
  PATH + r'/(?:phpinfo|fckeditor|ckfinder|ewebeditor|kindeditor|ueditor|elfinder|filemanager|webdav|heapdump|jmx|druid|nacos|myadmin|dbadmin|pma|sqladmin|webadmin|manager|jmx-console|axis2|solr|jenkins|hudson|cgi-bin' + SL + r'(?:test|php|printenv))' + WE + alt(SL, r'\.', SP1, QM, r'$'),
  r'(?:' + EQ + r'|' + SL + r')' + SPSB + r'(?:(?:etc|proc|windows|winnt)' + SL + r'|boot' + DOT + r'ini|win' + DOT + r'ini)', 
  DOT + r'(?:php\d?|phtml|asp|aspx|asa|cer|cgi|pl|sh|exe|dll)' + alt(SEMI, r'%20', r'::'),
  # a value that ends in a line break, empty quotes inside a word, $ {..}
  EQ + r'[^&\s]{1,200}?' + E('(?:0a|0d)') + r'(?=&|\s|$)',
  r'[a-z](?:' + Q + Q + r'|' + DQ + DQ + r'|' + BT + BT + r'|<\(\))[a-z]', DOL + SPP + LB,
  # output piped into a shell at the end of a value: | sh, | bash
  PIPE + SPS + r'(?:sh|bash|zsh|dash|ksh)' + alt(SPS + alt(r'$', r'&', SEMI, r'-[a-z]'), r'(?=\s)'),
))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    slots = [slot1, slot2, slot3, slot4, slot5, slot6, slot7, slot8]
    for number, slot in enumerate(slots, 1):
        pattern = with_defines(slot)
        # The engine skips every line that holds a raw '#'.
        assert '#' not in pattern.replace('%23', ''), number
        with open(os.path.join(folder, 'slot%d.pcre' % number), 'w') as out:
            out.write(pattern)
        print('slot%d.pcre: %d characters' % (number, len(pattern)))


if __name__ == '__main__':
    main()
